#pragma once

#include <QByteArray>
#include <QString>

// The password check of a WebSocket connection, a challenge-response that keeps the password off the network:
// the server announces a salt and a fresh challenge, the client answers
// base64(SHA-256(base64(SHA-256(password + salt)) + challenge)). The store keeps only the secret (the inner
// base64 of the salted hash) and the salt, never the password.
namespace korvel::websocket {

// base64(SHA-256(password + salt)): what the store keeps.
QByteArray password_secret(const QString &password, const QByteArray &salt);
// base64(SHA-256(secret + challenge)): the answer a client must give.
QByteArray expected_answer(const QByteArray &secret, const QByteArray &challenge);
// base64 of 32 bytes from the system's secure random source: a salt or a challenge.
QByteArray random_token();
// Compares in a time that does not depend on where the answers differ.
bool answers_match(const QByteArray &given, const QByteArray &expected);

} // namespace korvel::websocket
