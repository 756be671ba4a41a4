// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwaredescription.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString modelsProblem(const QStringList &models)
{
    if (models.size() > kMaxModels)
        return QStringLiteral("a descrição lista %1 modelos, mais que os %2 que um servidor de firmware do K931 tem")
            .arg(models.size())
            .arg(kMaxModels);
    for (const QString &model : models) {
        if (const QString why = modelNameProblem(model); !why.isEmpty())
            return QStringLiteral("o modelo \"%1\" %2").arg(printableName(model), why);
    }
    return {};
}

bool isPlainNameCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('_') || c == QLatin1Char('-')
        || c == QLatin1Char('+') || c == QLatin1Char(' ');
}

// Windows opens a device, not a file, for these names whatever follows a dot.
bool isWindowsDeviceName(const QString &name)
{
    static const QStringList devices = {QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
                                        QStringLiteral("NUL")};
    const QString base = name.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    if (devices.contains(base))
        return true;
    return base.size() == 4 && (base.startsWith(QLatin1String("COM")) || base.startsWith(QLatin1String("LPT")))
        && base[3] >= QLatin1Char('0') && base[3] <= QLatin1Char('9');
}

} // namespace

QString modelNameProblem(const QString &name)
{
    if (name.size() > kMaxModelNameLength)
        return QStringLiteral("tem mais de %1 caracteres").arg(kMaxModelNameLength);
    if (name.contains(QLatin1String("..")))
        return QStringLiteral("tem \"..\", que sairia da pasta");
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\'))
            return QStringLiteral("tem uma barra, que sairia da pasta");
        if (!isPlainNameCharacter(c))
            return QStringLiteral("tem o caractere %1, que não pode estar num nome de arquivo")
                .arg(c.isPrint() ? QStringLiteral("\"%1\"").arg(c) : printableName(QString(c)));
    }
    if (isWindowsDeviceName(name))
        return QStringLiteral("é o nome de um dispositivo do Windows");
    return {};
}

QString printableName(const QString &name)
{
    QString shown;
    for (const QChar c : name) {
        if (c.isPrint() || c == QLatin1Char(' '))
            shown += c;
        else
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return shown;
}

FirmwareDescription parseFirmwareDescriptionJson(const QByteArray &bytes)
{
    FirmwareDescription description;
    const QJsonObject object = QJsonDocument::fromJson(bytes).object();
    if (object.contains(QLatin1String("Modelo"))) {
        description.hasModels = true;
        const QJsonValue models = object.value(QLatin1String("Modelo"));
        if (models.isArray()) {
            for (const QJsonValue &model : models.toArray()) {
                if (model.isString() && !description.models.contains(model.toString()))
                    description.models.append(model.toString());
            }
        }
    }
    description.problem = modelsProblem(description.models);
    if (!description.ok())
        description.models.clear();
    if (object.contains(QLatin1String("Version"))) {
        description.hasVersion = true;
        description.versionText = object.value(QLatin1String("Version")).toString();
    }
    return description;
}

// atof reads the longest decimal prefix after white space. It follows the C
// locale's decimal point, which is "," on a Brazilian desktop: "1.6" would
// read as 1 there.
float versionNumberAfterV(const QString &versionText)
{
    const QByteArray text = versionText.section(QLatin1Char('V'), 1).toUtf8();
    int i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    const int start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    int digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i, ++digits;
    }
    if (digits == 0)
        return 0.0f;
    if (i + 1 < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        int j = i + 1;
        if (text[j] == '+' || text[j] == '-')
            ++j;
        if (j < text.size() && text[j] >= '0' && text[j] <= '9') {
            while (j < text.size() && text[j] >= '0' && text[j] <= '9')
                ++j;
            i = j;
        }
    }
    bool ok = false;
    const double value = text.mid(start, i - start).toDouble(&ok);
    return ok ? float(value) : 0.0f;
}

QStringList firmwareTypes()
{
    return {QStringLiteral("OBD"), QStringLiteral("OBD + Boost"), QStringLiteral("OBD + Flex"),
            QStringLiteral("OBD + Boost + Flex")};
}

QString firmwareFileFor(const QString &model, const QString &type)
{
    if (!modelNameProblem(model).isEmpty())
        return {};
    QString suffix;
    if (firmwareTypes().contains(type))
        suffix = QLatin1Char('_') + QString(type).remove(QLatin1Char(' ')).replace(QLatin1Char('+'), QLatin1Char('_'));
    return model + suffix + QStringLiteral(".hex");
}
