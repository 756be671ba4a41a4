// SPDX-License-Identifier: GPL-3.0-or-later
#include "bootloaderdriver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <windows.h>
#include <shellapi.h>

namespace bootloaderdriver {

namespace {

// tarvik-driver's exit codes (its --help lists them).
constexpr int kDone = 0;
constexpr int kNoElevation = 2;
constexpr int kNoDriver = 11;
constexpr int kOtherDriver = 12;
// Beyond tarvik-driver's own bound on an installation.
constexpr int kInstallLimitMs = 6 * 60 * 1000;
constexpr int kStatusLimitMs = 15000;

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

QString driverTool()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tarvik-driver.exe"));
}

// Windows binds nothing to the ROM bootloader, and the chip maker's tools
// bind a driver libusb cannot use: tarvik-driver, beside the program, puts
// WinUSB in its place once the owner agreed.
class DriverTool : public Installer {
public:
    Offer offer() override
    {
        if (!QFile::exists(driverTool()))
            return {};
        QProcess status;
        status.start(driverTool(), {QStringLiteral("--status")});
        if (!status.waitForFinished(kStatusLimitMs)) {
            status.kill();
            status.waitForFinished();
            return {};
        }
        if (status.exitStatus() != QProcess::NormalExit)
            return {};
        switch (status.exitCode()) {
        case kNoDriver: return {Need::Missing, QString()};
        case kOtherDriver: {
            // The name stands between the last quotes of the answer.
            const QString said = QString::fromUtf8(status.readAllStandardOutput()).trimmed();
            const int close = said.lastIndexOf(QLatin1Char('"'));
            const int open = close > 0 ? said.lastIndexOf(QLatin1Char('"'), close - 1) : -1;
            return {Need::OtherDriver, open >= 0 ? said.mid(open + 1, close - open - 1) : QString()};
        }
        default: return {};
        }
    }

    QString install() override
    {
        const std::wstring file = QDir::toNativeSeparators(driverTool()).toStdWString();
        SHELLEXECUTEINFOW run{};
        run.cbSize = sizeof run;
        run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
        run.lpVerb = L"runas";
        run.lpFile = file.c_str();
        run.lpParameters = L"--install";
        run.nShow = SW_HIDE;
        if (!ShellExecuteExW(&run) || !run.hProcess)
            return GetLastError() == ERROR_CANCELLED
                ? tr("o Windows não deu a permissão de administrador para instalar o driver")
                : tr("não foi possível iniciar o tarvik-driver");
        // The window keeps painting while Windows installs.
        const QDeadlineTimer limit(kInstallLimitMs);
        while (MsgWaitForMultipleObjects(1, &run.hProcess, FALSE, 100, QS_ALLINPUT) != WAIT_OBJECT_0
               && !limit.hasExpired())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(run.hProcess, &code);
        CloseHandle(run.hProcess);
        if (code == kDone)
            return QString();
        if (code == kNoElevation)
            return tr("o Windows não deu a permissão de administrador para instalar o driver");
        return tr("o driver do modo de atualização não foi instalado (tarvik-driver, código %1); instale-o com "
                  "o Zadig (veja \"Driver do modo de atualização\" no menu Iniciar)")
            .arg(code == STILL_ACTIVE ? QStringLiteral("sem resposta") : QString::number(code));
    }
};

} // namespace

std::unique_ptr<Installer> systemInstaller()
{
    return std::make_unique<DriverTool>();
}

} // namespace bootloaderdriver
