// SPDX-License-Identifier: GPL-3.0-or-later
// The six calls through which the application writes firmware into a device
// waiting in its USB DFU bootloader. They hide which engine does the work:
// the functions dispatch to an installed Backend (the libusb engine by
// default; tests install scripted or simulated ones).
//
// Every function is synchronous and must be called from one thread (the GUI
// thread in the application). The display callbacks are invoked on that same
// thread, during the call that causes them.
#pragma once

#include "flashbackup.h"
#include "result.h"

#include <cstdint>
#include <memory>
#include <string>

namespace flashing {

// Message kinds passed to the log callback.
enum MessageKind : int {
    kMessageInfo = 0,
    kMessageWarning = 1,
    kMessageError = 2,
};

// Three display callbacks, in this order. The log text is NUL-terminated
// UTF-16. The progress step's first argument is an increment in percent of
// the whole write; its second argument is the total (always 100).
struct DisplayCallbacks {
    void (*progressStart)();
    void (*logMessage)(int kind, const char16_t *text);
    void (*progressStep)(int increment, int total);
};

// One DFU device as listed by getDfuDeviceList. The USB index text comes
// first: it is what connectDfuBootloader takes.
struct DfuDeviceInfo {
    char usbIndex[16];
    char serialNumber[64];
    char product[128];
    // The internal flash's DfuSe layout ("@Internal Flash  /0x08000000/..."),
    // empty when it could not be read: it tells one chip from another.
    char flashLayout[128];
};

// Fills a record; texts too long for their field are cut, always terminated.
void setDeviceInfo(DfuDeviceInfo &info, const std::string &usbIndex, const std::string &serialNumber,
                   const std::string &product, const std::string &flashLayout = std::string());

int setLoadersPath(const char *path);
void setDisplayCallbacks(DisplayCallbacks callbacks);
void setVerbosityLevel(int level);

// Lists the DFU devices with these identifiers and returns their count (0 when
// there are none or USB is unavailable). *list points to the first record; the
// library owns the records until the next listing, callers never free them.
int getDfuDeviceList(DfuDeviceInfo **list, int productId, int vendorId);

// Opens the device whose record carries this USB index text and prepares its
// flash interface. 0 on success.
int connectDfuBootloader(const char *usbIndex);

// Validates the whole file (Intel HEX, or raw binary written at `address`),
// then erases what the image covers (unless skipErase), writes and, with
// verify, reads back and compares. Returns 0 only when all of that succeeded.
// `binaryPath` is unused and may be empty.
int downloadFile(const char16_t *filePath, unsigned int address, unsigned int skipErase,
                 unsigned int verify, const char16_t *binaryPath);

// downloadFile with what this one write needs besides the file: where the
// flash it replaces goes, and a question asked before the flash is changed.
int downloadFileWith(const char16_t *filePath, unsigned int address, unsigned int skipErase, unsigned int verify,
                     const WriteHooks &hooks);

// What a write did: its result, and whether it got as far as changing the
// flash (an erase or a write began), so that a failure can say truthfully
// whether the old firmware is still there.
struct WriteResult {
    int code = kOk;
    bool flashChanged = false;
};

// Writes an image read and judged beforehand, never the file again: what
// was checked is what goes into the device.
WriteResult downloadImageWith(const FirmwareImage &image, unsigned int skipErase, unsigned int verify,
                              const WriteHooks &hooks);

// Whether a downloadFile call is under way (asked from its callbacks, for
// example by a window that must not close before the write has ended).
bool writeInProgress();
// What the last downloadFile call returned (kOk before any).
int lastWriteResult();

// What the six calls dispatch to.
class Backend {
public:
    virtual ~Backend() = default;
    // Fills `out` with up to `capacity` records and returns how many devices
    // there are (never more than capacity).
    virtual int listDevices(int productId, int vendorId, DfuDeviceInfo *out, int capacity) = 0;
    virtual int connect(const char *usbIndex) = 0;
    // Callbacks go to the caller's thread during the call.
    virtual WriteResult writeImage(const FirmwareImage &image, bool erase, bool verify,
                                   const DisplayCallbacks &callbacks, int verbosity, const WriteHooks &hooks) = 0;
};

// Replaces the active backend and returns the previous one, so that a test
// can put it back. The default is the libusb engine.
std::unique_ptr<Backend> installBackend(std::unique_ptr<Backend> backend);

// The most devices a listing reports.
constexpr int kMaxListedDevices = 8;

} // namespace flashing
