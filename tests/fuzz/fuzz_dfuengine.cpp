// SPDX-License-Identifier: GPL-3.0-or-later
// A device that answers whatever the fuzzer says: GETSTATUS replies,
// descriptors and transfer results come from the input. The engine must end
// every write with a result code (no crash, no endless wait) and never call
// an answer from a broken device a success unless the device said so.
#include "dfu.h"
#include "dfuconfiguration.h"
#include "dfuseengine.h"
#include "programmer.h"

#include <cstring>

namespace {

class ScriptedDevice : public flashing::DfuTransport {
public:
    ScriptedDevice(const uint8_t *d, size_t n) : data(d), size(n) {}

    flashing::TransferResult controlOut(uint8_t, uint16_t, const uint8_t *, uint16_t length, unsigned) override
    {
        const uint8_t verdict = next();
        if (verdict < 16) // mostly accepted
            return flashing::TransferError(verdict % 4);
        return flashing::TransferResult::moved(length);
    }

    flashing::TransferResult controlIn(uint8_t, uint16_t, uint8_t *buffer, uint16_t length, unsigned) override
    {
        if (pos >= size)
            return flashing::TransferError::NoDevice;
        const size_t n = std::min<size_t>(length, size - pos);
        std::memcpy(buffer, data + pos, n);
        pos += n;
        return flashing::TransferResult::moved(int(n));
    }

    void pause(unsigned) override {}

private:
    uint8_t next() { return pos < size ? data[pos++] : 0; }
    const uint8_t *data;
    size_t size;
    size_t pos = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    flashing::dfu::DeviceStatus status;
    (void)flashing::dfu::decodeStatus(data, size, status);
    flashing::dfu::FunctionalDescriptor functional;
    (void)flashing::dfu::findFunctionalDescriptor(data, size, functional);
    flashing::dfu::Configuration configuration;
    (void)flashing::dfu::parseConfiguration(data, size, configuration);

    flashing::MemoryLayout layout;
    flashing::parseMemoryLayout("@Internal Flash  /0x08000000/04*016Kg,01*064Kg,03*128Kg", layout);
    ScriptedDevice device(data, size);
    flashing::DfuseEngine engine(device, layout, 64);
    flashing::FirmwareImage image;
    image.segments.push_back({0x08000000, std::vector<uint8_t>(100, 0x5A)});
    (void)engine.write(image, true, true, nullptr);
    std::vector<uint8_t> out;
    (void)engine.read(0x08000000, 32, out);
    return 0;
}
