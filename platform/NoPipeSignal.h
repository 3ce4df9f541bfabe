// NoPipeSignal: while alive, a write of this thread into a pipe whose reader is gone fails with EPIPE
// instead of raising SIGPIPE, whose default action would end the host process.
#pragma once

#include <pthread.h>

#include <cerrno>
#include <csignal>
#include <ctime>

namespace zelvik {

// SIGPIPE from a write is sent to the writing thread. Blocked here, it stays pending on the thread; if
// it was not pending before, it is taken away again before the mask is restored, so neither the host's
// handler nor its default action ever sees a signal the library caused. A SIGPIPE that was already
// pending (the host's own) is left alone.
class NoPipeSignal {
public:
    explicit NoPipeSignal(bool active = true) {
        if (!active) return;
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        wasPending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
        blocked_ = pthread_sigmask(SIG_BLOCK, &pipe_, &previous_) == 0;
    }
    ~NoPipeSignal() {
        if (!blocked_) return;
        const int savedErrno = errno;
        sigset_t pending;
        sigemptyset(&pending);
        if (!wasPending_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{};
            while (sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
        errno = savedErrno;
    }
    NoPipeSignal(const NoPipeSignal&) = delete;
    NoPipeSignal& operator=(const NoPipeSignal&) = delete;

private:
    sigset_t pipe_{};
    sigset_t previous_{};
    bool wasPending_ = false;
    bool blocked_ = false;
};

}  // namespace zelvik
