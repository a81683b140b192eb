#pragma once

#include <QString>

namespace orvela {

class HttpOrvelaServer;

// Reads the caller's credentials: the "Auth" token, or "Login" and "Password" for the two
// commands that may log in with a password. Returns a result code, 0 when they are usable.
quint16 decodeCredentials(HttpOrvelaServer& request);

// Reads a token with the key text into the login and the password hash it carries. Returns 0,
// 134 (not a token of this key), 137 (it carries nothing) or 135 (no login, or a hash that is
// not 32 characters long).
quint16 readToken(const QString& token, const QString& keyText, QString* login, QString* passwordHash);

// Looks the account up by login (or by mail when the login holds "@") and password hash and
// checks its status. On a refusal it has answered the request and returns false.
bool lookupUser(HttpOrvelaServer& request);

// The avatar file name of an account: sixteen upper-case hexadecimal digits and ".png".
QString avatarFileName(qint64 userId);

} // namespace orvela
