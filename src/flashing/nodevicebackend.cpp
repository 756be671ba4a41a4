#include "backends.h"

#include "intelhex.h"

#include <sys/stat.h>

#include <cstdio>

#ifdef _WIN32
#include "textcodec.h"
#endif

namespace flashing {

int readWholeFile(const std::string &utf8Path, std::vector<uint8_t> &out, size_t maxBytes)
{
    out.clear();
#ifdef _WIN32
    const std::u16string wide = utf8ToUtf16(utf8Path);
    FILE *file = _wfopen(reinterpret_cast<const wchar_t *>(wide.c_str()), L"rb");
#else
    FILE *file = std::fopen(utf8Path.c_str(), "rb");
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

int NoDeviceBackend::listDevices(int, int, DfuDeviceInfo *, int)
{
    return 0;
}

int NoDeviceBackend::connect(const char *)
{
    return kDeviceNotFound;
}

int NoDeviceBackend::writeFile(const char *path, unsigned int, bool, bool,
                               const DisplayCallbacks &, int)
{
    std::vector<uint8_t> bytes;
    const int read = readWholeFile(path, bytes, kMaxImageFileBytes);
    return read != kOk ? read : kNotConnected;
}

} // namespace flashing
