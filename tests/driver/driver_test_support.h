// The driver frame's tests' world: the calling thread in COM, the debug log on and captured, the
// fake class extension registered, and a device added through cMainDevice::CreateInstance with
// the fake framework driver, whose framework device a test prepares and releases. TearDown takes
// everything down as the framework would (hardware released, queue deleted, callback object
// dropped) and checks that no driver object is left: the module lock count is back where it was.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fake_class_extension.h"
#include "framework_fakes.h"
#include "standin/control.h"

// Driver headers last: they rename the C runtime's number readers.
#include "debug_log.h"
#include "main_device.h"
#include "module_lock.h"
#include "queue.h"
#include "sensor_ddi.h"

namespace zntr::test {

// Holds the threads that pass it while it is closed: a test keeps the event thread inside a post
// while it signals more.
class Gate {
  public:
    void Close() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = false;
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void Pass() {
        std::unique_lock<std::mutex> lock(mutex_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        --waiting_;
    }
    // Whether a thread is held within the timeout.
    bool WaitForHeldThread(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return waiting_ > 0; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    int waiting_ = 0;
};

// The serial port of the shipped device database, whose sibling network adapter the wake-up
// finds.
inline const std::wstring kDeviceInstanceId = L"USB\\VID_F00D&PID_7E57&MI_02\\7&2F3E4D5C&0&0002";

class DriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        gEnableLog = 1;
        lockBaseline_ = GetModuleLockCount();
        classExtension_ = std::make_unique<RegisteredFakeClassExtension>();
        ASSERT_EQ(classExtension_->RegistrationResult(), S_OK);
        driver_ = MakeFake<FakeWdfDriver>();
        init_ = MakeFake<FakeDeviceInitialize>(kDeviceInstanceId);
    }

    void TearDown() override {
        if (device_ != nullptr) {
            device_->OnReleaseHardware(driver_->device.Get());
            device_ = nullptr;
        }
        if (driver_->device) {
            driver_->device->DeleteQueue();
        }
        driver_->callbacks = nullptr;
        driver_->device = nullptr;
        driver_ = nullptr;
        init_ = nullptr;
        classExtension_.reset();
        EXPECT_EQ(gpSensorDDI, nullptr);
        EXPECT_EQ(GetModuleLockCount(), lockBaseline_) << "a driver object was left behind";
        gEnableLog = 0;
        CoUninitialize();
    }

    // OnDeviceAdd's work: the device callback object and the framework device.
    HRESULT AddDevice() {
        const HRESULT hr = cMainDevice::CreateInstance(driver_.Get(), init_.Get());
        if (SUCCEEDED(hr) && driver_->callbacks) {
            ComPtr<IPnpCallbackHardware> hardware;
            driver_->callbacks->QueryInterface(IID_IPnpCallbackHardware,
                                               reinterpret_cast<void**>(hardware.GetAddressOf()));
            device_ = static_cast<cMainDevice*>(hardware.Get());
        }
        return hr;
    }
    // A device added and prepared, as the framework starts it.
    void StartDevice() {
        ASSERT_EQ(AddDevice(), S_OK);
        ASSERT_EQ(Prepare(), S_OK);
    }

    cMainDevice& Device() { return *device_; }
    FakeWdfDevice& WdfDevice() { return *driver_->device.Get(); }
    HRESULT Prepare() { return device_->OnPrepareHardware(driver_->device.Get()); }
    HRESULT Release() { return device_->OnReleaseHardware(driver_->device.Get()); }
    ClassExtensionRecord& ClassExtension() { return classExtension_->Record(); }

    // The queue object behind the device's default queue; null when there is none.
    cQueue* Queue() {
        const ComPtr<FakeIoQueue> queue = WdfDevice().DefaultQueue();
        if (!queue) {
            return nullptr;
        }
        ComPtr<IQueueCallbackRead> read;
        queue->Callbacks()->QueryInterface(IID_IQueueCallbackRead,
                                           reinterpret_cast<void**>(read.GetAddressOf()));
        return static_cast<cQueue*>(read.Get());
    }

    std::vector<std::string> Log() {
        std::vector<std::string> log = std::move(seen_);
        seen_.clear();
        for (std::string& message : log_.Take()) {
            log.push_back(std::move(message));
        }
        return log;
    }
    // Waits until the message has been logged (since the last Log()); the messages so far stay
    // for the next Log().
    bool WaitForLog(const std::string& message,
                    std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            for (std::string& taken : log_.Take()) {
                seen_.push_back(std::move(taken));
            }
            if (Contains(seen_, message)) {
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    static bool Contains(const std::vector<std::string>& log, const std::string& message) {
        for (const std::string& line : log) {
            if (line == message) {
                return true;
            }
        }
        return false;
    }
    // The position of a message in the log, or -1.
    static int IndexOf(const std::vector<std::string>& log, const std::string& message) {
        for (size_t i = 0; i < log.size(); ++i) {
            if (log[i] == message) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    zntr::platform::DebugOutputCapture log_;
    std::vector<std::string> seen_;
    LONG lockBaseline_ = 0;
    std::unique_ptr<RegisteredFakeClassExtension> classExtension_;
    ComPtr<FakeWdfDriver> driver_;
    ComPtr<FakeDeviceInitialize> init_;
    // Not counted: the framework driver's callback reference keeps the object alive.
    cMainDevice* device_ = nullptr;
};

}  // namespace zntr::test
