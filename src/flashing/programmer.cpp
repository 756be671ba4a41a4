// SPDX-License-Identifier: GPL-3.0-or-later
#include "programmer.h"

#include "firmwarefile.h"

#include "defaultbackend.h"
#include "textcodec.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace flashing {
namespace {

// The library's own state: what the six calls configure and what the listing
// hands out. Kept in one place so that a backend swap resets nothing else.
struct LibraryState {
    std::unique_ptr<Backend> backend;
    DisplayCallbacks callbacks{nullptr, nullptr, nullptr};
    int verbosity = 1;
    std::string loadersPath;
    DfuDeviceInfo devices[kMaxListedDevices]{};
    bool writing = false;
    int lastWriteResult = kOk;
};

LibraryState &state()
{
    static LibraryState instance;
    return instance;
}

Backend &backend()
{
    LibraryState &s = state();
    if (!s.backend)
        s.backend = makeDefaultBackend();
    return *s.backend;
}

} // namespace

namespace {

template <size_t N>
void copyField(char (&field)[N], const std::string &text)
{
    const size_t n = std::min(text.size(), N - 1);
    text.copy(field, n);
    field[n] = '\0';
}

} // namespace

void setDeviceInfo(DfuDeviceInfo &info, const std::string &usbIndex, const std::string &serialNumber,
                   const std::string &product, const std::string &flashLayout)
{
    copyField(info.usbIndex, usbIndex);
    copyField(info.serialNumber, serialNumber);
    copyField(info.product, product);
    copyField(info.flashLayout, flashLayout);
}

int setLoadersPath(const char *path)
{
    // The engine needs no external flash loaders; the path is only kept.
    state().loadersPath = path ? path : "";
    return 0;
}

void setDisplayCallbacks(DisplayCallbacks callbacks)
{
    state().callbacks = callbacks;
}

void setVerbosityLevel(int level)
{
    state().verbosity = level;
}

int getDfuDeviceList(DfuDeviceInfo **list, int productId, int vendorId)
{
    LibraryState &s = state();
    std::memset(s.devices, 0, sizeof s.devices);
    if (list)
        *list = s.devices;
    const int count = backend().listDevices(productId, vendorId, s.devices, kMaxListedDevices);
    return count < 0 ? 0 : count;
}

int connectDfuBootloader(const char *usbIndex)
{
    if (!usbIndex)
        return kBadArgument;
    return backend().connect(usbIndex);
}

int downloadFile(const char16_t *filePath, unsigned int address, unsigned int skipErase,
                 unsigned int verify, const char16_t * /*binaryPath*/)
{
    return downloadFileWith(filePath, address, skipErase, verify, WriteHooks());
}

int downloadFileWith(const char16_t *filePath, unsigned int address, unsigned int skipErase, unsigned int verify,
                     const WriteHooks &hooks)
{
    if (!filePath || !*filePath)
        return kFileNotFound;
    // A call from a write's own callbacks reads no file: the write in
    // progress refuses it anyway.
    if (state().writing)
        return kBusy;
    FirmwareImage image;
    // Everything that can be refused is refused before the device is touched.
    const int read = loadFirmwareFile(utf16ToUtf8(filePath), address, image);
    if (read != kOk) {
        state().lastWriteResult = read;
        return read;
    }
    return downloadImageWith(image, skipErase, verify, hooks).code;
}

WriteResult downloadImageWith(const FirmwareImage &image, unsigned int skipErase, unsigned int verify,
                              const WriteHooks &hooks)
{
    LibraryState &s = state();
    const bool outer = !s.writing;
    s.writing = true;
    const WriteResult result = backend().writeImage(image, skipErase == 0, verify != 0, s.callbacks, s.verbosity, hooks);
    if (outer)
        s.writing = false;
    s.lastWriteResult = result.code;
    return result;
}

bool writeInProgress()
{
    return state().writing;
}

int lastWriteResult()
{
    return state().lastWriteResult;
}

std::unique_ptr<Backend> installBackend(std::unique_ptr<Backend> replacement)
{
    LibraryState &s = state();
    std::unique_ptr<Backend> previous = std::move(s.backend);
    s.backend = std::move(replacement);
    return previous;
}

} // namespace flashing
