#pragma once

#include "cgi/pairparser.h"

#include <QByteArray>
#include <QJsonValue>
#include <QSet>

namespace tarn {

// Debug records trace the request, but a password or token must never reach a log file.
// These helpers hide the values of secret names ("password", "auth", "token", "pas",
// "pasold" and the "authToken" of a profile, any letter case) wherever they travel: as parameters, inside JSON texts such as
// "DATA", in the raw query string and in the bytes of the body.
namespace secrets {

const QString kMask = QStringLiteral("********");

bool isSecretName(const QString& name);
// A request header, as its CGI variable names it ("HTTP_AUTH_TOKEN" for "Auth-Token"), whose
// name is a secret's name (an "X-" before it, "-" and "_" between its words do not count),
// or a credential header such as "Authorization".
bool isSecretHeader(const QString& variable);
// A parameter value as a debug record may show it.
QString maskParameter(const QString& name, const QString& value);
// A JSON value with the members of secret names replaced by the mask, at any depth.
QJsonValue maskJson(const QJsonValue& value);
// A "name=value<sep>..." text with the values of secret names masked.
QString maskPairs(const QString& text, QChar separator);
// The string values of secret names in parameters and in JSON texts they carry.
QSet<QString> collectValues(const TextMap& textParameters, const QMap<QString, QJsonValue>& json);
// Bytes with every occurrence of the given values replaced by '*'.
QByteArray maskBytes(QByteArray bytes, const QSet<QString>& values);

} // namespace secrets

} // namespace tarn
