// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwaresource.h"

#include "firmwaredescription.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QUrl>

namespace road {

namespace {

QString withSlash(QString url)
{
    return url.endsWith(QLatin1Char('/')) ? url : url + QLatin1Char('/');
}

FirmwareSource refused(const QString &why)
{
    return {QString(), QString(), why};
}

FirmwareSource chosen(const QString &base)
{
    return {base, base + kFirmwareDescriptionName, QString(), true};
}

// A password in the text is never echoed.
QString shown(const QString &text)
{
    const QUrl url(text);
    return url.userInfo().isEmpty() ? text : url.toDisplayString(QUrl::RemoveUserInfo);
}

// Plain http crosses no network only on this computer's own addresses.
bool isLoopback(const QUrl &url)
{
    const QHostAddress address(url.host());
    return !address.isNull() && address.isLoopback();
}

FirmwareSource fromFolder(const QString &path)
{
    const QFileInfo folder(path);
    if (!folder.isDir())
        return refused(QStringLiteral("a pasta %1 não existe").arg(path));
    const QFileInfo description(QDir(folder.absoluteFilePath()).filePath(kFirmwareDescriptionName));
    if (description.exists() && !description.isFile())
        return refused(QStringLiteral("o %1 da pasta %2 não é um arquivo comum").arg(kFirmwareDescriptionName, path));
    if (!description.isFile())
        return refused(QStringLiteral("a pasta %1 não tem %2: ela não é uma cópia do servidor de firmware "
                                      "(\"tarvik-config mirror\" faz uma)")
                           .arg(path, kFirmwareDescriptionName));
    return chosen(withSlash(QUrl::fromLocalFile(folder.absoluteFilePath()).toString()));
}

} // namespace

FirmwareSource firmwareSource(const QString &text)
{
    if (text.isEmpty())
        return {kFirmwareBaseUrl, QString(), QString()};
    const QUrl url(text);
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("file"))
        return fromFolder(url.toLocalFile());
    if (scheme == QLatin1String("https") || (scheme == QLatin1String("http") && isLoopback(url))) {
        if (url.host().isEmpty())
            return refused(QStringLiteral("o endereço %1 não diz o servidor").arg(shown(text)));
        return chosen(withSlash(url.toString()));
    }
    if (scheme == QLatin1String("http"))
        return refused(QStringLiteral("%1: http sem criptografia só para este computador (127.0.0.1 ou ::1); "
                                      "use https:// para um espelho na rede")
                           .arg(shown(text)));
    // A drive letter ("C:/firmware") reads as a scheme of one letter.
    if (!scheme.isEmpty() && scheme.size() > 1)
        return refused(QStringLiteral("%1: use https://, uma pasta ou file://").arg(shown(text)));
    return fromFolder(text);
}

bool isMakersServer(const QString &url)
{
    return url.startsWith(kFirmwareBaseUrl);
}

} // namespace road
