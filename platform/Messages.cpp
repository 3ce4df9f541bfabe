// Message targets: bounded queues with a pollable descriptor, and X11 windows reached over xcb.
#include "platform/Messages.h"

#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace zelvik {
namespace {

// Queue handles carry this tag in their top bits so they can never be mistaken for an X11 window id
// (XIDs use at most 29 bits).
constexpr uintptr_t kQueueTag = uintptr_t{0x5A} << (sizeof(uintptr_t) * 8 - 8);

class MessageQueue {
public:
    MessageQueue() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~MessageQueue() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool Post(const ZelvikMessage& m) {
        {
            std::lock_guard lock(mutex_);
            if (messages_.size() >= static_cast<size_t>(kMessageQueueCapacity)) {
                ++dropped_;
                return false;
            }
            messages_.push_back(m);
            if (messages_.size() == 1) SignalFd(true);
        }
        cv_.notify_one();
        return true;
    }

    int Get(ZelvikMessage* out, int timeoutMs) {
        std::unique_lock lock(mutex_);
        auto ready = [this] { return !messages_.empty(); };
        if (timeoutMs < 0) {
            cv_.wait(lock, ready);
        } else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
            return 0;
        }
        *out = messages_.front();
        messages_.pop_front();
        if (messages_.empty()) SignalFd(false);
        return 1;
    }

    int Dropped() {
        std::lock_guard lock(mutex_);
        return dropped_;
    }

private:
    // The descriptor is readable exactly while messages wait.
    void SignalFd(bool readable) {
        uint64_t value = 1;
        if (readable) {
            [[maybe_unused]] ssize_t n = ::write(fd_, &value, sizeof value);
        } else {
            [[maybe_unused]] ssize_t n = ::read(fd_, &value, sizeof value);
        }
    }

    int fd_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<ZelvikMessage> messages_;
    int dropped_ = 0;
};

struct QueueTable {
    std::mutex mutex;
    std::map<ZELVIK_HWND, std::shared_ptr<MessageQueue>> queues;
    uintptr_t next = 1;
};

// The table and the poster are never destroyed: capture threads may still post during process exit.
QueueTable& Queues() {
    static QueueTable* table = new QueueTable;
    return *table;
}

std::shared_ptr<MessageQueue> FindQueue(ZELVIK_HWND handle) {
    QueueTable& t = Queues();
    std::lock_guard lock(t.mutex);
    auto it = t.queues.find(handle);
    return it == t.queues.end() ? nullptr : it->second;
}

// One connection to the X server for posting, opened on first use. Errors (a window that no longer
// exists) come back as events on this connection and are discarded; they never end the process.
class X11Poster {
public:
    ~X11Poster() {
        if (connection_) xcb_disconnect(connection_);
    }
    bool Post(ZELVIK_HWND window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
        std::lock_guard lock(mutex_);
        if (!Connect()) return false;
        xcb_client_message_event_t event;
        std::memset(&event, 0, sizeof event);
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = static_cast<xcb_window_t>(window);
        event.type = messageAtom_;
        event.data.data32[0] = message;
        event.data.data32[1] = static_cast<uint32_t>(wParam);
        event.data.data32[2] = static_cast<uint32_t>(static_cast<uint64_t>(wParam) >> 32);
        event.data.data32[3] = static_cast<uint32_t>(lParam);
        event.data.data32[4] = static_cast<uint32_t>(static_cast<uint64_t>(lParam) >> 32);
        xcb_send_event(connection_, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&event));
        xcb_flush(connection_);
        while (xcb_generic_event_t* e = xcb_poll_for_event(connection_)) free(e);
        return true;
    }

private:
    bool Connect() {
        if (connection_) return !xcb_connection_has_error(connection_);
        if (triedConnect_) return false;
        triedConnect_ = true;
        connection_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection_)) return false;
        static const char kAtom[] = "ZELVIK_MESSAGE";
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, sizeof kAtom - 1, kAtom), nullptr);
        if (reply) {
            messageAtom_ = reply->atom;
            free(reply);
        }
        return true;
    }

    std::mutex mutex_;
    xcb_connection_t* connection_ = nullptr;
    bool triedConnect_ = false;
    xcb_atom_t messageAtom_ = XCB_ATOM_NONE;
};

X11Poster& Poster() {
    static X11Poster* poster = new X11Poster;
    return *poster;
}

}  // namespace

bool IsMessageQueue(ZELVIK_HWND target) {
    return (target & kQueueTag) == kQueueTag && FindQueue(target) != nullptr;
}

bool PostToTarget(ZELVIK_HWND target, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (target == 0) return false;
    if ((target & kQueueTag) == kQueueTag) {
        const auto queue = FindQueue(target);
        return queue && queue->Post(ZelvikMessage{message, wParam, lParam});
    }
    return target <= 0xFFFFFFFFu && Poster().Post(target, message, wParam, lParam);
}

ZELVIK_HWND CreateMessageQueue() {
    auto queue = std::make_shared<MessageQueue>();
    if (!queue->ok()) return 0;
    QueueTable& t = Queues();
    std::lock_guard lock(t.mutex);
    ZELVIK_HWND handle = kQueueTag | t.next++;
    t.queues.emplace(handle, std::move(queue));
    return handle;
}

int GetMessage(ZELVIK_HWND queue, ZelvikMessage* out, int timeoutMs) {
    auto q = FindQueue(queue);
    if (!q || !out) return -1;
    return q->Get(out, timeoutMs);
}

int MessageQueueFd(ZELVIK_HWND queue) {
    auto q = FindQueue(queue);
    return q ? q->fd() : -1;
}

int MessageQueueDropped(ZELVIK_HWND queue) {
    auto q = FindQueue(queue);
    return q ? q->Dropped() : -1;
}

int DestroyMessageQueue(ZELVIK_HWND queue) {
    QueueTable& t = Queues();
    std::lock_guard lock(t.mutex);
    return t.queues.erase(queue) ? 1 : 0;
}

}  // namespace zelvik
