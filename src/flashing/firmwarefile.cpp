// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwarefile.h"

#include "result.h"

#include <sys/stat.h>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstdio>

#ifdef _WIN32
#include "textcodec.h"
#endif

namespace flashing {
namespace {

bool endsWithBin(const std::string &path)
{
    if (path.size() < 4)
        return false;
    std::string tail = path.substr(path.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return tail == ".bin";
}

} // namespace

int readWholeFile(const std::string &utf8Path, std::vector<uint8_t> &out, size_t maxBytes)
{
    out.clear();
#ifdef _WIN32
    const std::u16string wide = utf8ToUtf16(utf8Path);
    FILE *file = _wfopen(reinterpret_cast<const wchar_t *>(wide.c_str()), L"rb");
#else
    // A plain open of a named pipe blocks until someone writes to it: opened
    // without blocking, anything but a regular file is turned away below.
    const int fd = open(utf8Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    FILE *file = fd >= 0 ? fdopen(fd, "rb") : nullptr;
    if (fd >= 0 && !file)
        close(fd);
#endif
    if (!file)
        return kFileNotFound;
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || (info.st_mode & S_IFMT) != S_IFREG) {
        std::fclose(file);
        return kFileNotFound;
    }
    uint8_t buffer[65536];
    int result = kOk;
    for (;;) {
        const size_t n = std::fread(buffer, 1, sizeof buffer, file);
        if (n == 0) {
            if (std::ferror(file))
                result = kFileNotFound;
            break;
        }
        if (out.size() + n > maxBytes) {
            result = kInvalidFile;
            break;
        }
        out.insert(out.end(), buffer, buffer + n);
    }
    std::fclose(file);
    if (result != kOk)
        out.clear();
    return result;
}

int loadFirmwareFile(const std::string &path, uint32_t address, FirmwareImage &image, FileProblem *problem)
{
    std::vector<uint8_t> bytes;
    const int r = readWholeFile(path, bytes, kMaxImageFileBytes);
    if (r != kOk) {
        if (problem && r == kInvalidFile)
            *problem = FileProblem{HexError::TooLarge, 0};
        return r;
    }
    // A file of no bytes is "no data" whatever its kind, not a HEX file that
    // lacks its end record.
    if (bytes.empty()) {
        if (problem)
            *problem = FileProblem{HexError::Empty, 0};
        return kInvalidFile;
    }
    if (endsWithBin(path)) {
        image = imageFromBinary(bytes.data(), bytes.size(), address);
        if (!image.empty())
            return kOk;
        if (problem)
            *problem = FileProblem{HexError::AddressOverflow, 0};
        return kInvalidFile;
    }
    HexParseResult parsed = parseIntelHex(bytes.data(), bytes.size());
    if (!parsed.ok()) {
        if (problem)
            *problem = FileProblem{parsed.error, parsed.line};
        return kInvalidFile;
    }
    image = std::move(parsed.image);
    return kOk;
}

} // namespace flashing
