// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik-driver: gives the STM32 ROM bootloader (USB 0483:DF11, the K931's
// update mode) the WinUSB driver, so that the program's libusb code can open
// it. Windows binds nothing to that device on its own, and the chip maker's
// tools bind a driver of theirs that libusb cannot use. Built on libwdi; the
// INF includes Windows' own winusb.inf, so no driver file travels with it.
// Windows only: built when cross-building for Windows.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <libwdi.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// This one device only: the ROM bootloader of STM32 chips. Any other id is
// never accepted, whatever the command line says.
constexpr unsigned short kVendorId = 0x0483;
constexpr unsigned short kProductId = 0xDF11;
char kDeviceName[] = "STM32 BOOTLOADER (Tarvik Connect)";
char kInfName[] = "tarvik-stm32-bootloader.inf";
// Longer than any installation takes; an installer that never returns must
// not hold the program's setup or the window forever.
constexpr DWORD kInstallLimitMs = 5 * 60 * 1000;

// The exit codes, also in --help and in docs/windows.md.
enum Exit : int {
    kDone = 0,            // installed, pre-installed or prepared; for --status: WinUSB
    kUsage = 1,
    kNoElevation = 2,     // administrator rights refused or not obtained
    kPrepareFailed = 3,   // the INF or the catalog could not be written
    kInstallFailed = 4,
    kNotPlugged = 10,     // --status: no bootloader on USB
    kNoDriver = 11,       // --status: the bootloader has no driver
    kOtherDriver = 12,    // --status: the bootloader has another driver
};

void say(const std::string &utf8)
{
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string utf8(const std::wstring &wide)
{
    if (wide.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), int(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

const char kHelp[] =
    "Uso: tarvik-driver [--install | --prepare-only PASTA | --status] [--verbose]\n"
    "Instala o driver WinUSB para o modo de atualização do K931 (\"STM32 BOOTLOADER\",\n"
    "USB 0483:DF11), para que o Tarvik Connect, o tarvik-dfu e o tarvik-config possam\n"
    "gravar o firmware. Pede permissão de administrador quando precisa.\n"
    "\n"
    "  --install             instala (o padrão); com o aparelho desconectado, o Windows\n"
    "                        guarda o driver e o usa quando o bootloader aparecer\n"
    "  --prepare-only PASTA  só escreve o INF e o catálogo assinado na PASTA\n"
    "  --status              diz qual driver o bootloader tem agora\n"
    "  --verbose             mostra as mensagens da biblioteca libwdi\n"
    "\n"
    "Códigos de saída: 0 feito (em --status: o bootloader usa o WinUSB); 1 uso errado;\n"
    "2 sem permissão de administrador; 3 falha ao preparar o driver; 4 falha ao instalar;\n"
    "em --status: 10 bootloader não conectado, 11 sem driver, 12 com outro driver.";

const char *messageFor(int code)
{
    switch (code) {
    case kNoElevation:
        return "A instalação do driver precisa da permissão de administrador, que não foi dada. "
               "Rode tarvik-driver de novo e responda \"Sim\" ao Windows.";
    case kPrepareFailed:
        return "Não foi possível preparar o driver do modo de atualização. Tente de novo; se repetir, "
               "instale o WinUSB com o Zadig (veja \"Driver do modo de atualização\" no menu Iniciar).";
    case kInstallFailed:
        return "O Windows não instalou o driver do modo de atualização. Desconecte e reconecte o K931 e "
               "rode tarvik-driver de novo; se repetir, instale o WinUSB com o Zadig (veja \"Driver do "
               "modo de atualização\" no menu Iniciar).";
    default: return nullptr;
    }
}

int fail(int code, const char *libwdiError = nullptr)
{
    if (libwdiError)
        std::fprintf(stderr, "libwdi: %s\n", libwdiError);
    if (const char *text = messageFor(code))
        say(text);
    return code;
}

struct Bootloader {
    bool plugged = false;
    std::string driver; // Windows' service name; empty: no driver
    // Windows' names of the device, through which the installer binds the
    // driver to it at once.
    std::string deviceId;
    std::string hardwareId;
};

// The first STM32 ROM bootloader on USB, with the driver it has now.
Bootloader findBootloader()
{
    Bootloader found;
    wdi_device_info *list = nullptr;
    wdi_options_create_list options{};
    options.list_all = TRUE;
    if (wdi_create_list(&list, &options) != WDI_SUCCESS)
        return found;
    for (wdi_device_info *device = list; device; device = device->next) {
        if (device->vid == kVendorId && device->pid == kProductId && !device->is_composite) {
            found.plugged = true;
            found.driver = device->driver ? device->driver : "";
            found.deviceId = device->device_id ? device->device_id : "";
            found.hardwareId = device->hardware_id ? device->hardware_id : "";
            break;
        }
    }
    wdi_destroy_list(list);
    return found;
}

bool isWinUsb(const std::string &driver)
{
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, driver.c_str(), -1, "WinUSB", -1) == CSTR_EQUAL;
}

int status()
{
    const Bootloader bootloader = findBootloader();
    if (!bootloader.plugged) {
        say("O bootloader STM32 (USB 0483:DF11) não está conectado.");
        return kNotPlugged;
    }
    if (bootloader.driver.empty()) {
        say("O bootloader STM32 (USB 0483:DF11) está sem driver: rode tarvik-driver para instalar o WinUSB.");
        return kNoDriver;
    }
    if (isWinUsb(bootloader.driver)) {
        say("O bootloader STM32 (USB 0483:DF11) usa o WinUSB: pronto para atualizar.");
        return kDone;
    }
    say("O bootloader STM32 (USB 0483:DF11) usa outro driver: \"" + bootloader.driver + "\".");
    return kOtherDriver;
}

wdi_device_info deviceToPrepare()
{
    wdi_device_info device{};
    device.vid = kVendorId;
    device.pid = kProductId;
    device.desc = kDeviceName;
    return device;
}

int prepare(const std::string &folder, wdi_device_info &device)
{
    wdi_options_prepare_driver options{};
    options.driver_type = WDI_WINUSB;
    const int r = wdi_prepare_driver(&device, folder.c_str(), kInfName, &options);
    if (r != WDI_SUCCESS)
        return fail(kPrepareFailed, wdi_strerror(r));
    return kDone;
}

struct InstallJob {
    wdi_device_info device;
    std::string folder;
    int result = WDI_ERROR_OTHER;
};

DWORD WINAPI runInstall(void *data)
{
    auto *job = static_cast<InstallJob *>(data);
    wdi_options_install_driver options{};
    options.pending_install_timeout = 120000;
    job->result = wdi_install_driver(&job->device, job->folder.c_str(), kInfName, &options);
    return 0;
}

std::string workFolder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    return utf8(std::wstring(temp) + L"tarvik-driver");
}

int install()
{
    const Bootloader bootloader = findBootloader();
    if (bootloader.plugged && isWinUsb(bootloader.driver)) {
        say("O bootloader STM32 (USB 0483:DF11) já usa o WinUSB: nada a instalar.");
        return kDone;
    }
    if (bootloader.plugged && !bootloader.driver.empty())
        say("O bootloader STM32 usava o driver \"" + bootloader.driver
            + "\"; o programa que o usava deixa de vê-lo até que ele seja trocado de volta no Gerenciador de "
              "Dispositivos.");
    // The INF names the device by its id alone: a bootloader plugged later
    // gets the driver from the driver store at its first appearance.
    InstallJob job{deviceToPrepare(), workFolder()};
    if (const int prepared = prepare(job.folder, job.device); prepared != kDone)
        return prepared;
    std::string deviceId = bootloader.deviceId;
    std::string hardwareId = bootloader.hardwareId;
    if (bootloader.plugged) {
        job.device.device_id = deviceId.empty() ? nullptr : deviceId.data();
        job.device.hardware_id = hardwareId.empty() ? nullptr : hardwareId.data();
    }
    HANDLE worker = CreateThread(nullptr, 0, runInstall, &job, 0, nullptr);
    if (!worker)
        return fail(kInstallFailed);
    const bool ended = WaitForSingleObject(worker, kInstallLimitMs) == WAIT_OBJECT_0;
    if (!ended)
        return fail(kInstallFailed, "the installation did not end in time");
    CloseHandle(worker);
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::u8path(job.folder), ignored);
    if (job.result != WDI_SUCCESS)
        return fail(kInstallFailed, wdi_strerror(job.result));
    say(bootloader.plugged
            ? "Driver WinUSB instalado para \"STM32 BOOTLOADER\": clique em \"Atualizar\" de novo no Tarvik Connect."
            : "Driver WinUSB guardado no Windows: o modo de atualização do K931 o recebe na primeira vez que "
              "aparecer.");
    return kDone;
}

// Installing and signing the catalog need an administrator: the program
// starts itself again through UAC and hands back that run's exit code (its
// own messages stay in its hidden console, so the code is said here).
int elevated(const std::vector<std::wstring> &arguments)
{
    wchar_t self[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring parameters;
    for (std::wstring argument : arguments) {
        // A closing quote after a backslash would be read as a quote.
        if (!argument.empty() && argument.back() == L'\\')
            argument += L'\\';
        parameters += L"\"" + argument + L"\" ";
    }
    parameters += L"--elevated";
    SHELLEXECUTEINFOW run{};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    run.lpVerb = L"runas";
    run.lpFile = self;
    run.lpParameters = parameters.c_str();
    run.nShow = SW_HIDE;
    if (!ShellExecuteExW(&run) || !run.hProcess)
        return fail(kNoElevation);
    WaitForSingleObject(run.hProcess, INFINITE);
    DWORD code = kInstallFailed;
    GetExitCodeProcess(run.hProcess, &code);
    CloseHandle(run.hProcess);
    if (code == kDone)
        say("Driver do modo de atualização instalado.");
    else if (const char *text = messageFor(int(code)))
        say(text);
    return int(code);
}

} // namespace

int main()
{
    SetConsoleOutputCP(CP_UTF8);
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> arguments(argv + 1, argv + argc);
    LocalFree(argv);

    enum class Command { Install, Prepare, Status } command = Command::Install;
    std::string folder;
    bool alreadyElevated = false;
    std::vector<std::wstring> passedOn;
    int level = WDI_LOG_LEVEL_WARNING;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring &a = arguments[i];
        if (a == L"--help" || a == L"-h") {
            say(kHelp);
            return kDone;
        }
        if (a == L"--version") {
            say("tarvik-driver " TARVIK_VERSION);
            return kDone;
        }
        if (a == L"--elevated") {
            alreadyElevated = true;
            continue;
        }
        passedOn.push_back(a);
        if (a == L"--install") {
            command = Command::Install;
        } else if (a == L"--status") {
            command = Command::Status;
        } else if (a == L"--verbose") {
            level = WDI_LOG_LEVEL_DEBUG;
        } else if (a == L"--prepare-only" && i + 1 < arguments.size()) {
            command = Command::Prepare;
            folder = utf8(arguments[++i]);
            passedOn.push_back(arguments[i]);
        } else {
            say("Argumento desconhecido: " + utf8(a) + "\n\n" + kHelp);
            return kUsage;
        }
    }
    wdi_set_log_level(level);

    if (command == Command::Status)
        return status();
    if (!IsUserAnAdmin())
        return alreadyElevated ? fail(kNoElevation) : elevated(passedOn);
    if (command == Command::Prepare) {
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::u8path(folder), ignored);
        wdi_device_info device = deviceToPrepare();
        const int prepared = prepare(folder, device);
        if (prepared == kDone)
            say("Driver preparado em " + folder + ": " + kInfName + " e o seu catálogo.");
        return prepared;
    }
    return install();
}
