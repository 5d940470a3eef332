// The challenge-response arithmetic of the WebSocket password.
#include "websocket/authentication.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <array>

namespace korvel::websocket {

QByteArray password_secret(const QString &password, const QByteArray &salt)
{
    return QCryptographicHash::hash(password.toUtf8() + salt, QCryptographicHash::Sha256).toBase64();
}

QByteArray expected_answer(const QByteArray &secret, const QByteArray &challenge)
{
    return QCryptographicHash::hash(secret + challenge, QCryptographicHash::Sha256).toBase64();
}

QByteArray random_token()
{
    std::array<quint32, 8> words;
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.data()), sizeof(words)).toBase64();
}

bool answers_match(const QByteArray &given, const QByteArray &expected)
{
    if (given.size() != expected.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < given.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ expected[i]);
    return difference == 0;
}

} // namespace korvel::websocket
