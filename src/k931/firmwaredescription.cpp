// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwaredescription.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

FirmwareDescription parseFirmwareDescriptionJson(const QByteArray &bytes)
{
    FirmwareDescription description;
    const QJsonObject object = QJsonDocument::fromJson(bytes).object();
    if (object.contains(QLatin1String("Modelo"))) {
        description.hasModels = true;
        const QJsonValue models = object.value(QLatin1String("Modelo"));
        if (models.isArray()) {
            for (const QJsonValue &model : models.toArray()) {
                if (model.isString())
                    description.models.append(model.toString());
            }
        }
    }
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
    QString suffix;
    if (firmwareTypes().contains(type))
        suffix = QLatin1Char('_') + QString(type).remove(QLatin1Char(' ')).replace(QLatin1Char('+'), QLatin1Char('_'));
    return model + suffix + QStringLiteral(".hex");
}
