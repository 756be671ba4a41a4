// SPDX-License-Identifier: GPL-3.0-or-later
// A flashing backend whose answers a test sets beforehand. During a write it
// replays a script of callback calls on the calling thread, like the real
// engine does.
#pragma once

#include "programmer.h"

#include <functional>
#include <string>
#include <thread>
#include <vector>

struct ScriptedBackend : flashing::Backend {
    struct Call {
        enum Kind { Start, Log, Step } kind;
        int value = 0;
    };

    int deviceCount = 0;
    // What each listed device announces: the K931's chip unless a test says otherwise.
    std::string flashLayout = "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,03*128Kg";
    // The USB serial number of each listed device by its place; "SN<place>"
    // beyond them.
    std::vector<std::string> serials;
    int connectResult = 0;
    int writeResult = 0;
    std::vector<Call> script;
    // Run on the calling thread in the middle of a write, after the script.
    std::function<void()> duringWrite;

    // What the backend saw.
    std::vector<std::string> connectedIndexes;
    std::vector<flashing::FirmwareImage> writtenImages;
    int listCalls = 0;
    std::vector<std::thread::id> callbackThreads;

    int listDevices(int, int, flashing::DfuDeviceInfo *out, int capacity) override
    {
        ++listCalls;
        const int n = deviceCount < capacity ? deviceCount : capacity;
        for (int i = 0; i < n; ++i) {
            const std::string serial = size_t(i) < serials.size() ? serials[size_t(i)] : "SN" + std::to_string(i);
            flashing::setDeviceInfo(out[i], "USB" + std::to_string(i), serial, "STM32 BOOTLOADER", flashLayout);
        }
        return n;
    }

    int connect(const char *usbIndex) override
    {
        connectedIndexes.emplace_back(usbIndex);
        return connectResult;
    }

    flashing::WriteResult writeImage(const flashing::FirmwareImage &image, bool, bool,
                                     const flashing::DisplayCallbacks &callbacks, int,
                                     const flashing::WriteHooks &) override
    {
        writtenImages.push_back(image);
        static const char16_t kText[] = u"scripted";
        for (const Call &call : script) {
            callbackThreads.push_back(std::this_thread::get_id());
            switch (call.kind) {
            case Call::Start: if (callbacks.progressStart) callbacks.progressStart(); break;
            case Call::Log: if (callbacks.logMessage) callbacks.logMessage(flashing::kMessageInfo, kText); break;
            case Call::Step: if (callbacks.progressStep) callbacks.progressStep(call.value, 100); break;
            }
        }
        if (duringWrite)
            duringWrite();
        return {writeResult, writeResult != 0};
    }
};

// Installs a backend for the lifetime of a scope and puts the previous one
// back afterwards.
class BackendScope {
public:
    explicit BackendScope(std::unique_ptr<flashing::Backend> backend)
        : previous(flashing::installBackend(std::move(backend))) {}
    ~BackendScope() { flashing::installBackend(std::move(previous)); }
    BackendScope(const BackendScope &) = delete;
    BackendScope &operator=(const BackendScope &) = delete;

private:
    std::unique_ptr<flashing::Backend> previous;
};
