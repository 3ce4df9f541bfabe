// The call frame of the handle exports: look the handle up, hold its call lock, keep exceptions inside.
#pragma once

#include <memory>
#include <mutex>
#include <new>

#include "api/HandleRegistry.h"
#include "instance/CameraInstance.h"
#include "instance/Errors.h"

namespace zelvik {

// The call frame of every handle export: an unregistered handle returns `failure` without any
// report; nothing thrown inside ever crosses the C boundary. op receives the handle's entry.
template <typename R, typename Op>
R WithEntry(int handle, R failure, Op&& op) {
    std::shared_ptr<HandleEntry> entry = Registry().Find(handle);
    if (!entry) return failure;
    std::lock_guard lock(entry->calls);
    if (!entry->instance) return failure;
    try {
        return op(*entry);
    } catch (const std::bad_alloc&) {
        entry->instance->reportError(kErrMemory);
    } catch (...) {
    }
    return failure;
}

// An instance operation.
template <typename R, typename Op>
R WithInstance(int handle, R failure, Op&& op) {
    return WithEntry(handle, failure, [&](HandleEntry& e) { return op(*e.instance); });
}

// An instance operation that needs the device: without one it is not run, error 1 is reported (or only
// posted, with notice Post) and *ok is cleared.
template <typename R, typename Op>
R WithDevice(int handle, R failure, Op&& op, int* ok = nullptr,
             CameraInstance::Notice notice = CameraInstance::Notice::Report) {
    return WithInstance(handle, failure,
                        [&](CameraInstance& c) { return c.RequireDevice(ok, notice) ? op(c) : failure; });
}

// A capture operation (the engine checks the device with its capture-mode table).
template <typename R, typename Op>
R WithEngine(int handle, R failure, Op&& op) {
    return WithEntry(handle, failure, [&](HandleEntry& e) { return op(*e.engine); });
}

}  // namespace zelvik
