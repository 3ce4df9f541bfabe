// The handle ring: rotating lookup, insertion before the head, unlink of the found node.
#include "api/HandleRegistry.h"

#include <cstdlib>

#include "platform/Clock.h"

namespace zelvik {

bool HandleEntry::Create() {
    try {
        instance = std::make_unique<CameraInstance>();
        engine = std::make_unique<CaptureEngine>(*instance);
    } catch (...) {
        Release();
        return false;
    }
    return true;
}

void HandleEntry::Release() {
    engine.reset();
    instance.reset();
}

HandleRegistry::~HandleRegistry() {
    while (head_) {
        Node* node = head_;
        if (node->next == node) {
            head_ = nullptr;
        } else {
            node->prev->next = node->next;
            node->next->prev = node->prev;
            head_ = node->next;
        }
        delete node;
    }
    count_ = 0;
}

HandleRegistry::Node* HandleRegistry::Lookup(int key) {
    if (!head_) return nullptr;
    const int last = head_->prev->key;
    for (;;) {
        if (head_->key == key) return head_;
        if (head_->key == last) return nullptr;
        head_ = head_->next;
    }
}

int HandleRegistry::NextKey() {
    // rand() + tick + count, wrapping; a key that is 0 or already live would hide a handle, so the next
    // free value is taken instead.
    uint32_t key = static_cast<uint32_t>(std::rand()) + MillisecondClock() + static_cast<uint32_t>(count_);
    for (;;) {
        const int candidate = static_cast<int>(key);
        if (candidate != 0 && candidate != -1) {
            bool used = false;
            if (head_) {
                Node* n = head_;
                do {
                    used = used || n->key == candidate;
                    n = n->next;
                } while (n != head_);
            }
            if (!used) return candidate;
        }
        ++key;
    }
}

int HandleRegistry::Insert(std::shared_ptr<HandleEntry> entry) {
    std::lock_guard lock(mutex_);
    Node* node = new Node{NextKey(), std::move(entry), nullptr, nullptr};
    if (!head_) {
        node->prev = node->next = node;
    } else {
        node->prev = head_->prev;
        node->next = head_;
        head_->prev->next = node;
        head_->prev = node;
    }
    head_ = node;
    ++count_;
    return node->key;
}

std::shared_ptr<HandleEntry> HandleRegistry::Find(int key) {
    std::lock_guard lock(mutex_);
    Node* node = Lookup(key);
    return node ? node->entry : nullptr;
}

bool HandleRegistry::Remove(int key) {
    std::lock_guard lock(mutex_);
    Node* node = Lookup(key);
    if (!node) return false;
    if (node->next == node) {
        head_ = nullptr;
        count_ = 0;
    } else {
        --count_;
        node->prev->next = node->next;
        node->next->prev = node->prev;
        head_ = node->next;
    }
    delete node;
    return true;
}

int HandleRegistry::Count() {
    std::lock_guard lock(mutex_);
    return count_;
}

int HandleRegistry::HeadKey() {
    std::lock_guard lock(mutex_);
    return head_ ? head_->key : 0;
}

HandleRegistry& Registry() {
    // Never destroyed: at process exit the threads of instances the application did not release may
    // still run, and must not find the registry gone. Releasing every handle is the application's job.
    static HandleRegistry* registry = new HandleRegistry;
    return *registry;
}

}  // namespace zelvik
