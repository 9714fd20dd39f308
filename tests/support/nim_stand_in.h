// The base of the tests' stand-in voice modules: every call succeeds and does
// nothing; a stand-in overrides the calls it scripts and raises its events
// from threads it starts with Spawn, which Release joins.
#pragma once

#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "core/services/nim/xnim_interface.h"

#define QM_STAND_IN_EXPORT extern "C" __attribute__((visibility("default")))

namespace qmtest {

class NimStandIn : public IXNimObject {
public:
    virtual ~NimStandIn() { JoinThreads(); }
    bool Init(const char*, IXNimCallback* callback) override {
        callback_ = callback;
        return true;
    }
    void Release() override { JoinThreads(); }
    bool Login(const char*, const char*, const char*) override { return true; }
    void Logout() override {}
    bool JoinRoom(const char*, const char*, bool, int) override { return true; }
    bool LeaveRoom(const char*) override { return true; }
    bool EnumDevice() override { return true; }
    bool StartAudioPlayDevice(const char*) override { return true; }
    bool EndAudioPlayDevice() override { return true; }
    bool StartAudioDevice(const char*) override { return true; }
    bool EndAudioDevice() override { return true; }
    bool StartMicDevice(const char*, bool) override { return true; }
    bool EndMicDevice(bool) override { return true; }
    bool Reserved() override { return true; }
    bool SetViewerMode(bool) override { return true; }
    bool SetMuted(bool) override { return true; }
    bool SetMicVolumn(int) override { return true; }
    bool SetAudioVolumn(int) override { return true; }

protected:
    void Spawn(std::function<void()> work) {
        std::lock_guard<std::mutex> lock(lock_);
        threads_.emplace_back(std::move(work));
    }
    // Called before the threads are joined, so that a stream ends.
    virtual void Stop() {}

    IXNimCallback* callback_ = nullptr;

private:
    void JoinThreads() {
        Stop();
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(lock_);
            threads.swap(threads_);
        }
        for (std::thread& t : threads) t.join();
    }

    std::mutex lock_;
    std::vector<std::thread> threads_;
};

}  // namespace qmtest
