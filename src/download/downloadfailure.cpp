// SPDX-License-Identifier: GPL-3.0-or-later
#include "downloadfailure.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>

namespace {

bool onThisComputer(const QUrl &url)
{
    const QHostAddress address(url.host());
    return url.host() == QLatin1String("localhost") || (!address.isNull() && address.isLoopback());
}

QString networkText(const DownloadResult &result, const QString &url)
{
    if (result.httpStatus >= 400)
        return QStringLiteral("O servidor respondeu HTTP %1 a %2: confira o endereço da fonte e tente de novo.")
            .arg(result.httpStatus)
            .arg(url);
    if (onThisComputer(result.requested))
        return QStringLiteral("Falha ao baixar %1 (%2): confira se o servidor neste computador está rodando.")
            .arg(url, result.detail);
    return QStringLiteral("Falha ao baixar %1 (%2): verifique a conexão com a internet e tente de novo.")
        .arg(url, result.detail);
}

QString redirectText(const DownloadResult &result, const QString &url)
{
    if (result.options.sameOriginOnly)
        return QStringLiteral("%1 redirecionou o pedido para %2, fora da fonte escolhida: nada foi baixado. "
                              "Use como fonte o endereço que serve os arquivos.")
            .arg(url, result.detail);
    return QStringLiteral("%1 redirecionou o pedido para um endereço não seguro: nada foi baixado. "
                          "Tente de novo mais tarde.")
        .arg(url);
}

QString savingText(const DownloadResult &result, const QString &url)
{
    const QString folder = QDir::toNativeSeparators(QFileInfo(result.path).absolutePath());
    return QStringLiteral("%1 chegou, mas a pasta %2 não aceitou o arquivo (%3). Libere espaço ou confira as "
                          "permissões da pasta e tente de novo.")
        .arg(url, folder, result.detail);
}

} // namespace

QString downloadFailureText(const DownloadResult &result)
{
    using F = DownloadResult::Failure;
    const QString url = DownloadManager::shownUrl(result.requested);
    switch (result.failure) {
    case F::None: return QString();
    case F::NotFound:
        return result.requested.isLocalFile() ? QStringLiteral("%1 não existe na pasta da fonte.").arg(url)
                                              : QStringLiteral("%1 não existe no servidor.").arg(url);
    case F::Network: return networkText(result, url);
    case F::Stalled:
        return QStringLiteral("%1: o servidor parou de enviar dados. Verifique a conexão e tente de novo.").arg(url);
    case F::TooSlow:
        return QStringLiteral("%1 não chegou inteiro em %2 s: a fonte está lenta demais. Tente de novo mais tarde "
                              "ou use outra fonte.")
            .arg(url)
            .arg(result.options.timeLimitMs / 1000);
    case F::TooLarge:
        return QStringLiteral("%1 passa de %2 KiB, o máximo para esse arquivo: a fonte não serve um arquivo do "
                              "K931. Confira a fonte.")
            .arg(url)
            .arg(result.options.maxBytes / 1024);
    case F::Tls:
        return QStringLiteral("O certificado do servidor de %1 foi recusado (%2): nada foi baixado. Confira o "
                              "endereço da fonte e a data e a hora do computador.")
            .arg(url, result.detail);
    case F::Redirected: return redirectText(result, url);
    // Every hop stayed on the chosen server: it is the server's own loop.
    case F::TooManyRedirects:
        return QStringLiteral("%1: a fonte redirecionou o pedido vezes demais (a última vez para %2) sem chegar ao "
                              "arquivo: nada foi baixado. Confira a configuração do servidor da fonte e tente de novo.")
            .arg(url, result.detail);
    case F::NotRegularFile:
        return QStringLiteral("%1 não é um arquivo comum (é um pipe, um dispositivo ou uma pasta): nada foi lido. "
                              "Refaça a cópia da fonte.")
            .arg(url);
    case F::ReadFailed:
        return QStringLiteral("Não foi possível ler %1 (%2). Confira a pasta da fonte.").arg(url, result.detail);
    case F::SaveFailed: return savingText(result, url);
    case F::Stopped: return QStringLiteral("O download de %1 foi interrompido.").arg(url);
    }
    return QString();
}
