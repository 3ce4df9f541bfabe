// Handles on a device double, created through the same call frame as Zelvik_Initialize.
#pragma once

#include <gtest/gtest.h>

#include "api/Exports.h"
#include "api/HandleRegistry.h"
#include "instance/CameraInstance.h"
#include "tests/support/ErrorStack.h"
#include "tests/support/RegisterMapDevice.h"
#include "tests/support/TestEnvironment.h"

namespace zelvik::test {

class ApiFixture : public ::testing::Test {
protected:
    void TearDown() override {
        for (int h : handles_) Zelvik_Release(h);
        if (queue_) ZelvikMsg_DestroyQueue(queue_);
    }

    // A handle whose instance owns a RegisterMapDevice (null device: the missing-device path).
    int HandleWithDevice(std::unique_ptr<RegisterMapDevice> device = std::make_unique<RegisterMapDevice>(),
                         ZELVIK_HWND notify = 0) {
        RegisterMapDevice* raw = device.get();
        int h = InitializeHandle([&](CameraInstance& c) { return c.InitializeWith(notify, std::move(device)); });
        handles_.push_back(h);
        devices_[h] = raw;
        return h;
    }
    int HandleWithoutDevice() { return HandleWithDevice(nullptr); }

    RegisterMapDevice& Device(int h) { return *devices_.at(h); }
    CameraInstance& Instance(int h) { return *Registry().Find(h)->instance; }
    ZELVIK_HWND Queue() {
        if (!queue_) queue_ = ZelvikMsg_CreateQueue();
        return queue_;
    }
    static void DrainErrors(int h) { test::DrainErrors(h); }

    TestEnvironment env_;
    std::vector<int> handles_;
    std::map<int, RegisterMapDevice*> devices_;
    ZELVIK_HWND queue_ = 0;
};

}  // namespace zelvik::test
