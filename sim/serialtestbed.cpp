// SPDX-License-Identifier: GPL-3.0-or-later
// umockdev's headers must come before any Qt header: Qt's "signals" macro
// breaks GIO's.
#include <umockdev.h>

#include "serialtestbed.h"

#include <QDir>
#include <QHash>

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <termios.h>

namespace {

// Runs on umockdev's own worker thread: must never wait for the Qt thread.
gboolean handleTtyIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer)
{
    const gulong request = umockdev_ioctl_client_get_request(client);
    if (request == TIOCMGET) {
        GError *error = nullptr;
        UMockdevIoctlData *data =
            umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(int), &error);
        if (!data) {
            g_clear_error(&error);
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return TRUE;
        }
        const int lines = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
        memcpy(data->data, &lines, sizeof lines);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    if (request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC) {
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    int clientErrno = 0;
    GError *error = nullptr;
    const int result = umockdev_ioctl_client_execute(client, &clientErrno, &error);
    g_clear_error(&error);
    umockdev_ioctl_client_complete(client, result, clientErrno);
    return TRUE;
}

} // namespace

struct SerialTestbed::Private {
    UMockdevTestbed *testbed = nullptr;
    QHash<QString, UMockdevIoctlBase *> handlers;
    int firstPort = 0;
};

SerialTestbed::SerialTestbed(int firstPort)
    : d(new Private)
{
    d->firstPort = firstPort;
    d->testbed = umockdev_testbed_new();
    QDir(rootDir()).mkpath(QStringLiteral("dev"));
}

int SerialTestbed::firstPort() const
{
    return d->firstPort;
}

SerialTestbed::~SerialTestbed()
{
    for (UMockdevIoctlBase *handler : std::as_const(d->handlers))
        g_object_unref(handler);
    g_object_unref(d->testbed);
    delete d;
}

bool SerialTestbed::available()
{
    return umockdev_in_mock_environment();
}

bool SerialTestbed::ensurePreloaded(char **argv)
{
    static const char kMarker[] = "TARVIK_UMOCKDEV_PRELOADED";
    if (qEnvironmentVariableIsSet(kMarker))
        return true;
    qputenv(kMarker, "1");
    qputenv("LD_PRELOAD", "libumockdev-preload.so.0");
    execv("/proc/self/exe", argv);
    perror("execv");
    return false;
}

QProcessEnvironment SerialTestbed::childEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("UMOCKDEV_DIR"), rootDir());
    return env;
}

QString SerialTestbed::rootDir() const
{
    gchar *dir = umockdev_testbed_get_root_dir(d->testbed);
    const QString result = QString::fromUtf8(dir);
    g_free(dir);
    return result;
}

_UMockdevTestbed *SerialTestbed::handle() const
{
    return d->testbed;
}

bool SerialTestbed::addDevices(const QByteArray &description)
{
    GError *error = nullptr;
    const gboolean ok = umockdev_testbed_add_from_string(d->testbed, description.constData(), &error);
    if (error) {
        qWarning("umockdev: %s", error->message);
        g_clear_error(&error);
    }
    return ok;
}

void SerialTestbed::removeDevice(const QByteArray &sysPath)
{
    umockdev_testbed_remove_device(d->testbed, sysPath.constData());
}

void SerialTestbed::attachTtyHandler(const QString &devNode)
{
    if (d->handlers.contains(devNode))
        return;
    UMockdevIoctlBase *handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(handleTtyIoctl), nullptr);
    GError *error = nullptr;
    if (!umockdev_testbed_attach_ioctl(d->testbed, devNode.toUtf8().constData(), handler, &error)) {
        qWarning("umockdev: cannot attach to %s: %s", qPrintable(devNode), error ? error->message : "?");
        g_clear_error(&error);
        g_object_unref(handler);
        return;
    }
    d->handlers.insert(devNode, handler);
}
