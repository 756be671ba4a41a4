// SPDX-License-Identifier: GPL-3.0-or-later
#include "flashfailure.h"

#include "firmwarefile.h"
#include "programmer.h"
#include "usbaccess.h"
#include "usbids.h"

#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("FlashWindow", text);
}

QString hexErrorReason(flashing::HexError error)
{
    using flashing::HexError;
    switch (error) {
    case HexError::MissingColon: return tr("a linha não começa com ':'");
    case HexError::NonHexCharacter: return tr("caractere que não é hexadecimal");
    case HexError::LengthMismatch: return tr("tamanho do registro não confere");
    case HexError::BadChecksum: return tr("checksum incorreto");
    case HexError::UnknownRecordType: return tr("tipo de registro desconhecido");
    case HexError::MalformedRecord: return tr("registro de endereço ou de fim malformado");
    case HexError::MissingEndOfFile: return tr("falta o registro de fim de arquivo");
    case HexError::DataAfterEndOfFile: return tr("dados depois do registro de fim de arquivo");
    case HexError::OverlappingData: return tr("dados sobrepostos");
    case HexError::AddressOverflow: return tr("dados além do espaço de endereços");
    case HexError::TooLarge: return tr("arquivo grande demais");
    case HexError::Empty: return tr("arquivo sem dados");
    case HexError::None: break;
    }
    return tr("formato desconhecido");
}

// The writer only says "invalid"; reading the file again finds where.
QString invalidFileReason(const QString &filePath)
{
    flashing::FirmwareImage image;
    flashing::FileProblem problem;
    const int read = flashing::loadFirmwareFile(filePath.toUtf8().toStdString(), k931::kFlashStart, image, &problem);
    if (read == flashing::kOk || problem.error == flashing::HexError::None)
        return tr("Arquivo inválido");
    if (problem.line == 0)
        return tr("Arquivo inválido: %1").arg(hexErrorReason(problem.error));
    return tr("Arquivo inválido, linha %1: %2").arg(problem.line).arg(hexErrorReason(problem.error));
}

} // namespace

QString flashFailureReason(int result, const QString &filePath)
{
    switch (result) {
    case flashing::kInvalidFile: return invalidFileReason(filePath);
    case flashing::kFileNotFound: return tr("Arquivo não encontrado ou sem permissão de leitura");
    case flashing::kAddressOutsideFlash: return tr("Arquivo com dados fora da memória flash do aparelho");
    case flashing::kNotConnected: return tr("Aparelho não conectado: clique em Conectar");
    case flashing::kUsbError: return tr("Falha na comunicação USB com o aparelho (cabo ou aparelho desconectado?)");
    case flashing::kEraseError: return tr("O aparelho não conseguiu apagar a memória flash");
    case flashing::kWriteError: return tr("O aparelho não conseguiu gravar a memória flash");
    case flashing::kVerifyMismatch: return tr("A memória gravada no aparelho difere do arquivo");
    case flashing::kReadProtected: return tr("O aparelho está com a proteção de leitura ativa");
    case flashing::kBusy: return tr("Uma gravação já está em andamento");
    case flashing::kAccessDenied: return usbAccessAdvice();
    case flashing::kInterfaceBusy: return tr("O aparelho USB está em uso por outro programa");
    case flashing::kStopped: return tr("Interrompido antes de apagar a memória: nada foi gravado");
    default: return tr("Falha no aparelho (código %1)").arg(result);
    }
}
