// tarvik-dfu: the flashing engine on the command line, for technicians and
// measurements.
//
//   tarvik-dfu list
//   tarvik-dfu write FILE [--no-verify]
#include "firmwarefile.h"
#include "programmer.h"
#include "usbids.h"
#include "textcodec.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kBarWidth = 40;

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// The display callbacks are plain functions; this is what they draw from.
struct Terminal {
    int percent = 0;
    int drawn = -1;
} terminal;

void drawBar()
{
    if (terminal.percent == terminal.drawn)
        return;
    terminal.drawn = terminal.percent;
    const int filled = terminal.percent * kBarWidth / 100;
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################",
                 kBarWidth - filled, "", terminal.percent);
    std::fflush(stderr);
}

void onStart() { drawBar(); }

void onLog(int, const char16_t *text)
{
    std::fprintf(stderr, "\r%-60s\n", flashing::utf16ToUtf8(text).c_str());
    terminal.drawn = -1;
    drawBar();
}

void onStep(int increment, int)
{
    terminal.percent += increment;
    if (terminal.percent > 100)
        terminal.percent = 100;
    drawBar();
}

void printUsage(FILE *to)
{
    std::fprintf(to,
                 "usage: tarvik-dfu list\n"
                 "       tarvik-dfu write FILE [--no-verify]\n"
                 "Writes an Intel HEX file (or a .bin image at 0x%08X) into a device\n"
                 "waiting in its USB DFU bootloader (%04x:%04x).\n"
                 "Exit status: 0 when the firmware was written and read back identical (with\n"
                 "--no-verify: written, not read back); 1 when it was not; 2 on a usage error.\n",
                 k931::kFlashStart, k931::kUsbVendor, k931::kDfuProduct);
}

int usage()
{
    printUsage(stderr);
    return kExitUsage;
}

int list()
{
    flashing::DfuDeviceInfo *devices = nullptr;
    const int count = flashing::getDfuDeviceList(&devices, k931::kDfuProduct, k931::kUsbVendor);
    if (count == 0) {
        std::printf("No DFU device found.\n");
        return kExitOk;
    }
    for (int i = 0; i < count; ++i)
        std::printf("%s\t%s\t%s\n", devices[i].usbIndex, devices[i].serialNumber, devices[i].product);
    return kExitOk;
}

// Why a file could not be read, in the words a person would check it by.
const char *unreadableReason(const std::string &path)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        return "not found";
    if (!S_ISREG(status.st_mode))
        return "not a regular file";
    return "not readable";
}

// The file is judged before any device is looked for, and "invalid" comes
// with the line and the reason: a technician can fix the file.
bool fileIsFirmware(const std::string &path)
{
    flashing::FirmwareImage image;
    flashing::FileProblem problem;
    const int r = flashing::loadFirmwareFile(path, k931::kFlashStart, image, &problem);
    if (r == flashing::kFileNotFound)
        std::fprintf(stderr, "%s: %s\n", path.c_str(), unreadableReason(path));
    else if (r != flashing::kOk && problem.line > 0)
        std::fprintf(stderr, "%s: line %zu: %s\n", path.c_str(), problem.line, flashing::hexErrorText(problem.error));
    else if (r != flashing::kOk)
        std::fprintf(stderr, "%s: %s\n", path.c_str(), flashing::hexErrorText(problem.error));
    return r == flashing::kOk;
}

int write(const std::string &path, bool verify)
{
    if (!fileIsFirmware(path))
        return kExitFailed;
    flashing::DfuDeviceInfo *devices = nullptr;
    if (flashing::getDfuDeviceList(&devices, k931::kDfuProduct, k931::kUsbVendor) == 0) {
        std::fprintf(stderr, "No DFU device found.\n");
        return kExitFailed;
    }
    int r = flashing::connectDfuBootloader(devices[0].usbIndex);
    if (r != flashing::kOk) {
        std::fprintf(stderr, "Could not connect to %s: %s (%d)\n", devices[0].usbIndex, flashing::resultText(r), r);
        return kExitFailed;
    }
    flashing::setDisplayCallbacks({onStart, onLog, onStep});
    const std::u16string wide = flashing::utf8ToUtf16(path);
    r = flashing::downloadFile(wide.c_str(), k931::kFlashStart, 0, verify ? 1 : 0, u"");
    std::fprintf(stderr, "\n");
    if (r != flashing::kOk) {
        std::fprintf(stderr, "Write failed: %s (%d)\n", flashing::resultText(r), r);
        return kExitFailed;
    }
    std::printf(verify ? "Firmware written and verified.\n" : "Firmware written (not verified).\n");
    return kExitOk;
}

} // namespace

int main(int argc, char **argv)
{
    flashing::setVerbosityLevel(1);
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printUsage(stdout);
        return kExitOk;
    }
    if (argc >= 2 && std::strcmp(argv[1], "list") != 0 && std::strcmp(argv[1], "write") != 0) {
        std::fprintf(stderr, "tarvik-dfu: unknown command \"%s\"\n", argv[1]);
        return usage();
    }
    if (argc == 2 && std::strcmp(argv[1], "list") == 0)
        return list();
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "write") == 0) {
        const bool verify = argc == 3;
        if (argc == 4 && std::strcmp(argv[3], "--no-verify") != 0)
            return usage();
        return write(argv[2], verify);
    }
    return usage();
}
