// The backends that ship with the library.
#pragma once

#include "programmer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace flashing {

// The backend used until a caller installs another: the libusb engine.
std::unique_ptr<Backend> makeDefaultBackend();

// Sees no device at all: for builds and machines without USB access.
class NoDeviceBackend : public Backend {
public:
    int listDevices(int productId, int vendorId, DfuDeviceInfo *out, int capacity) override;
    int connect(const char *usbIndex) override;
    int writeFile(const char *path, unsigned int address, bool erase, bool verify,
                  const DisplayCallbacks &callbacks, int verbosity) override;
};

// Reads a whole file. kOk, or kFileNotFound when it is missing, unreadable, a
// directory, or larger than maxBytes (then kInvalidFile).
int readWholeFile(const std::string &utf8Path, std::vector<uint8_t> &out, size_t maxBytes);

// Copies text into a fixed char field, always NUL-terminated.
template <size_t N>
void copyField(char (&field)[N], const std::string &text)
{
    const size_t n = text.size() < N - 1 ? text.size() : N - 1;
    for (size_t i = 0; i < n; ++i)
        field[i] = text[i];
    field[n] = '\0';
}

} // namespace flashing
