#include "cgi/secretmask.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tarn {
namespace secrets {

namespace {

// The JSON a text holds when it is an object or an array.
bool parseContainer(const QString& text, QJsonValue* value)
{
    const QString trimmed = text.trimmed();
    if (!trimmed.startsWith(QLatin1Char('[')) && !trimmed.startsWith(QLatin1Char('{'))) {
        return false;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(trimmed.toUtf8());
    if (doc.isArray()) {
        *value = doc.array();
        return true;
    }
    if (doc.isObject()) {
        *value = doc.object();
        return true;
    }
    return false;
}

QString compact(const QJsonValue& value)
{
    const QJsonDocument doc = value.isArray() ? QJsonDocument(value.toArray())
                                              : QJsonDocument(value.toObject());
    return QString::fromUtf8(doc.toJson(QJsonDocument::Compact));
}

void collectFromJson(const QJsonValue& value, QSet<QString>* found)
{
    if (value.isArray()) {
        for (const QJsonValue& element : value.toArray()) {
            collectFromJson(element, found);
        }
        return;
    }
    const QJsonObject object = value.toObject();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (isSecretName(it.key()) && it.value().isString() && !it.value().toString().isEmpty()) {
            found->insert(it.value().toString());
        } else {
            collectFromJson(it.value(), found);
        }
    }
}

void collectFromText(const QString& name, const QString& text, QSet<QString>* found)
{
    if (isSecretName(name)) {
        if (!text.isEmpty()) {
            found->insert(text);
        }
        return;
    }
    QJsonValue json;
    if (parseContainer(text, &json)) {
        collectFromJson(json, found);
    }
}

} // namespace

bool isSecretName(const QString& name)
{
    static const QSet<QString> kNames = {QStringLiteral("password"), QStringLiteral("auth"),
                                         QStringLiteral("token"), QStringLiteral("pas"),
                                         QStringLiteral("pasold"), QStringLiteral("authtoken")};
    return kNames.contains(name.toLower());
}

bool isSecretHeader(const QString& variable)
{
    const QString prefix = QStringLiteral("HTTP_");
    if (!variable.startsWith(prefix, Qt::CaseInsensitive)) {
        return false;
    }
    QString name = variable.mid(prefix.size()).toLower();
    if (name.startsWith(QStringLiteral("x_"))) {
        name = name.mid(2);
    }
    if (name == QStringLiteral("authorization") || name == QStringLiteral("proxy_authorization")) {
        return true;
    }
    return isSecretName(name.remove(QLatin1Char('_')).remove(QLatin1Char('-')));
}

QString maskParameter(const QString& name, const QString& value)
{
    if (isSecretName(name)) {
        return kMask;
    }
    QJsonValue json;
    if (!parseContainer(value, &json)) {
        return value;
    }
    const QJsonValue masked = maskJson(json);
    return masked == json ? value : compact(masked);
}

QJsonValue maskJson(const QJsonValue& value)
{
    if (value.isArray()) {
        QJsonArray array;
        for (const QJsonValue& element : value.toArray()) {
            array.append(maskJson(element));
        }
        return array;
    }
    if (!value.isObject()) {
        return value;
    }
    QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        it.value() = isSecretName(it.key()) ? QJsonValue(kMask) : maskJson(it.value());
    }
    return object;
}

QString maskPairs(const QString& text, QChar separator)
{
    TextMap pairs;
    parsePairs(text, separator, pairs);
    bool anySecret = false;
    for (auto it = pairs.cbegin(); it != pairs.cend(); ++it) {
        anySecret = anySecret || maskParameter(it.key(), it.value()) != it.value();
    }
    if (!anySecret) {
        return text;
    }
    QStringList masked;
    for (auto it = pairs.cbegin(); it != pairs.cend(); ++it) {
        masked << it.key() + QLatin1Char('=') + maskParameter(it.key(), it.value());
    }
    return masked.join(separator);
}

QSet<QString> collectValues(const TextMap& textParameters, const QMap<QString, QJsonValue>& json)
{
    QSet<QString> found;
    for (auto it = textParameters.cbegin(); it != textParameters.cend(); ++it) {
        collectFromText(it.key(), it.value(), &found);
    }
    for (auto it = json.cbegin(); it != json.cend(); ++it) {
        if (it.value().isString()) {
            collectFromText(it.key(), it.value().toString(), &found);
        } else {
            QJsonObject holder;
            holder.insert(it.key(), it.value());
            collectFromJson(holder, &found);
        }
    }
    return found;
}

QByteArray maskBytes(QByteArray bytes, const QSet<QString>& values)
{
    for (const QString& value : values) {
        // A value may travel as it is or escaped inside a JSON text.
        const QByteArray asJson = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
        for (const QByteArray& needle : {value.toUtf8(), asJson.mid(2, asJson.size() - 4)}) {
            if (needle.isEmpty()) {
                continue;
            }
            const QByteArray stars(needle.size(), '*');
            int at = 0;
            while ((at = bytes.indexOf(needle, at)) >= 0) {
                bytes.replace(at, needle.size(), stars);
                at += needle.size();
            }
        }
    }
    return bytes;
}

} // namespace secrets
} // namespace tarn
