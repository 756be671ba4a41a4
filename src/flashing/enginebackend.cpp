// SPDX-License-Identifier: GPL-3.0-or-later
#include "enginebackend.h"

#include "dfuseengine.h"
#include "textcodec.h"
#include "timing.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace flashing {
namespace {

// Carries the engine's progress from its worker thread to the calling
// thread, which owns the display callbacks. Progress steps are whole percent
// of the expected duration, so that they add up to exactly 100.
class CallbackPump : public ProgressSink {
public:
    CallbackPump(double totalExpectedMs, int verbosity)
        : totalMs(totalExpectedMs > 0 ? totalExpectedMs : 1.0)
        , verbose(verbosity > 0)
    {
    }

    void phaseStarted(Phase phase, size_t units) override
    {
        if (!verbose)
            return;
        std::string text;
        switch (phase) {
        case Phase::Backup: text = "Lendo " + std::to_string(units) + " bytes para a cópia"; break;
        case Phase::Erase: text = "Apagando " + std::to_string(units) + " setor(es)"; break;
        case Phase::Write: text = "Gravando " + std::to_string(units) + " bytes"; break;
        case Phase::Verify: text = "Conferindo " + std::to_string(units) + " bytes"; break;
        }
        push(Event{Event::Log, 0, kMessageInfo, text});
    }

    void note(const std::string &text)
    {
        if (verbose)
            push(Event{Event::Log, 0, kMessageInfo, text});
    }

    void advanced(double expectedMs) override
    {
        doneMs += expectedMs;
        const int percent = std::min(99, int(std::floor(100.0 * doneMs / totalMs)));
        if (percent > reported) {
            push(Event{Event::Step, percent - reported, 0, {}});
            reported = percent;
        }
    }

    void finish(int result)
    {
        if (result == kOk) {
            push(Event{Event::Step, 100 - reported, 0, {}});
            push(Event{Event::Log, 0, kMessageInfo, "Firmware gravado"});
        } else if (result != kStopped) {
            // A stop that was asked for is no failure: the caller says what it left.
            push(Event{Event::Log, 0, kMessageError, "Falhou (código " + std::to_string(result) + ")"});
        }
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
        wake.notify_one();
    }

    // On the calling thread until the worker finishes: every slice delivers
    // what arrived, or a zero step so that the caller's event loop turns.
    void deliver(const DisplayCallbacks &callbacks)
    {
        for (;;) {
            std::deque<Event> batch;
            bool done = false;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait_for(lock, std::chrono::milliseconds(timing::kCallbackSliceMs),
                              [this] { return finished || !events.empty(); });
                batch.swap(events);
                done = finished;
            }
            if (batch.empty() && !done && callbacks.progressStep)
                callbacks.progressStep(0, 100);
            for (const Event &e : batch)
                call(callbacks, e);
            if (done)
                return;
        }
    }

private:
    struct Event {
        enum Kind { Log, Step } kind;
        int step;
        int messageKind;
        std::string text;
    };

    void push(Event e)
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(std::move(e));
        wake.notify_one();
    }

    static void call(const DisplayCallbacks &callbacks, const Event &e)
    {
        if (e.kind == Event::Step) {
            if (callbacks.progressStep)
                callbacks.progressStep(e.step, 100);
        } else if (callbacks.logMessage) {
            const std::u16string text = utf8ToUtf16(e.text);
            callbacks.logMessage(e.messageKind, text.c_str());
        }
    }

    const double totalMs;
    const bool verbose;
    double doneMs = 0;   // worker thread only
    int reported = 0;    // worker thread only
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Event> events;
    bool finished = false;
};

} // namespace

EngineBackend::EngineBackend(std::unique_ptr<DeviceProvider> deviceProvider)
    : provider(std::move(deviceProvider))
{
}

EngineBackend::~EngineBackend() = default;

int EngineBackend::listDevices(int productId, int vendorId, DfuDeviceInfo *out, int capacity)
{
    const std::vector<DeviceRecord> records = provider->list(productId, vendorId);
    const int n = std::min<int>(int(records.size()), capacity);
    for (int i = 0; i < n; ++i) {
        const DeviceRecord &record = records[size_t(i)];
        setDeviceInfo(out[i], record.usbIndex, record.serialNumber, record.product, record.flashLayout);
    }
    return n;
}

int EngineBackend::connect(const char *usbIndex)
{
    if (writing)
        return kBusy;
    device = OpenedDevice{};
    layout = MemoryLayout{};
    OpenedDevice opened;
    int r = provider->open(usbIndex, opened);
    if (r != kOk)
        return r;
    MemoryLayout parsed;
    if (!opened.transport || opened.transferSize == 0 || !parseMemoryLayout(opened.layoutText, parsed))
        return kNoDfuInterface;
    DfuseEngine engine(*opened.transport, parsed, opened.transferSize);
    if ((r = engine.recover()) != kOk)
        return r;
    device = std::move(opened);
    layout = std::move(parsed);
    return kOk;
}

WriteResult EngineBackend::writeImage(const FirmwareImage &image, bool erase, bool verify,
                                      const DisplayCallbacks &callbacks, int verbosity, const WriteHooks &hooks)
{
    if (writing)
        return {kBusy, false};
    if (!device.transport)
        return {kNotConnected, false};
    DfuseEngine engine(*device.transport, layout, device.transferSize);
    if (const int r = engine.checkImage(image, erase, verify); r != kOk)
        return {r, false};

    if (callbacks.progressStart)
        callbacks.progressStart();
    CallbackPump pump(engine.plan(image, erase, verify, hooks.backup != nullptr).totalMs(), verbosity);
    // A device whose flash was looked for in the wrong place fails later
    // with a puzzling error; say where the write goes.
    pump.note("Configuração alternativa " + std::to_string(device.alternateSetting) + ": " + device.layoutText);
    int result = kUsbError;
    writing = true;
    std::thread worker([&] {
        result = engine.write(image, erase, verify, &pump, hooks);
        pump.finish(result);
    });
    pump.deliver(callbacks);
    worker.join();
    writing = false;
    return {result, engine.flashChanged()};
}

} // namespace flashing
