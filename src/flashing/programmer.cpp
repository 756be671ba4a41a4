#include "programmer.h"

#include "backends.h"
#include "textcodec.h"

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

const char *resultText(int result)
{
    switch (result) {
    case kOk: return "success";
    case kNotConnected: return "not connected to a DFU device";
    case kInvalidFile: return "invalid firmware file";
    case kAddressOutsideFlash: return "firmware lies outside the device's writable flash";
    case kFileNotFound: return "firmware file not found or not readable";
    case kUsbError: return "USB transfer failed";
    case kEraseError: return "erase failed";
    case kWriteError: return "write failed";
    case kVerifyMismatch: return "verification failed: flash differs from the file";
    case kReadProtected: return "device is read-protected";
    case kDeviceNotFound: return "DFU device not found";
    case kNoDfuInterface: return "device has no usable DFU flash interface";
    case kBadArgument: return "invalid argument";
    case kBusy: return "a write is already in progress";
    default:
        if (result <= kUnexpectedStateBase && result > kUnexpectedStateBase - 100)
            return "device in an unexpected DFU state";
        if (result <= kDeviceStatusBase && result > kDeviceStatusBase - 100)
            return "device reported a DFU error status";
        return "unknown error";
    }
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
    if (!filePath || !*filePath)
        return kFileNotFound;
    const std::string path = utf16ToUtf8(filePath);
    LibraryState &s = state();
    const bool outer = !s.writing;
    s.writing = true;
    const int result = backend().writeFile(path.c_str(), address, skipErase == 0, verify != 0, s.callbacks,
                                           s.verbosity);
    if (outer)
        s.writing = false;
    s.lastWriteResult = result;
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
