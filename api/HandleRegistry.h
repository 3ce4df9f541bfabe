// The process-wide ring of handle -> camera instance behind every export.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "capture/CaptureEngine.h"
#include "instance/CameraInstance.h"
#include "platform/DiskSystem.h"

namespace zelvik {

// One live handle: its camera instance and the capture engine built on it. Calls through the C API hold
// `calls` while they run, so a handle is never used by two exported calls at once and is never destroyed
// under a running call.
struct HandleEntry {
    // The disks of a handle made on disks the application provides (ZelvikDisk_Initialize), else null.
    // Declared first: it outlives the instance, whose device looks at it.
    std::unique_ptr<DiskSystem> disks;
    // Both or neither: created together, released together (engine first: its threads end before the
    // instance saves the settings they write and closes the device they read).
    std::unique_ptr<CameraInstance> instance;  // null once released
    std::unique_ptr<CaptureEngine> engine;
    std::recursive_mutex calls;

    // Creates the instance and its engine; false when memory runs out.
    bool Create();
    void Release();
};

// A circular doubly linked ring whose head moves to every handle looked up, so repeated calls with
// one handle find it at the first comparison. A mutex guards the ring; instance operations run outside it.
class HandleRegistry {
public:
    HandleRegistry() = default;
    virtual ~HandleRegistry();
    HandleRegistry(const HandleRegistry&) = delete;
    HandleRegistry& operator=(const HandleRegistry&) = delete;

    // Registers an instance under a new key and returns the key. Keys are never 0 and never equal to a
    // live key.
    virtual int Insert(std::shared_ptr<HandleEntry> entry);
    // The entry registered under key, or null (rotating lookup).
    std::shared_ptr<HandleEntry> Find(int key);
    // Unlinks the node of key; true when it existed.
    bool Remove(int key);

    int Count();
    // Key of the head node, or 0 when empty (for tests of the rotation).
    int HeadKey();

private:
    struct Node {
        int key;
        std::shared_ptr<HandleEntry> entry;
        Node* prev;
        Node* next;
    };
    Node* Lookup(int key);  // with mutex_ held
    int NextKey();          // with mutex_ held

    std::mutex mutex_;
    Node* head_ = nullptr;
    int count_ = 0;
};

HandleRegistry& Registry();

}  // namespace zelvik
