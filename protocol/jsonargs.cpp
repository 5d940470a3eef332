#include "protocol/jsonargs.h"

#include "console/valuelists.h"
#include "protocol/requestid.h"

#include <cmath>
#include <limits>

namespace korvel::jsonargs {

QString type_name(Expected expected)
{
    switch (expected) {
    case Expected::String:
        return QStringLiteral("String");
    case Expected::Bool:
        return QStringLiteral("Bool");
    case Expected::Number:
        return QStringLiteral("Number");
    case Expected::Object:
        return QStringLiteral("Object");
    case Expected::StringOrObject:
        return QStringLiteral("String (static) or Object (blinking)");
    case Expected::RequestId:
        return QStringLiteral("String (at most %1 characters) or Number").arg(korvel::protocol::max_request_id_length);
    }
    return QString();
}

QString invalid_key(const QString &path)
{
    return QStringLiteral("invalid key: '") + path + QLatin1Char('\'');
}

QString invalid_type(const QString &path, Expected expected)
{
    return QStringLiteral("invalid data type for key: '") + path + QStringLiteral("', expected: ") +
           type_name(expected);
}

QString invalid_value(const QString &value, const QString &path)
{
    return QStringLiteral("invalid data value '") + value + QStringLiteral("' for key: '") + path + QLatin1Char('\'');
}

QString invalid_value(int number, const QString &path)
{
    return invalid_value(QString::number(number), path);
}

QString member_path(const QString &path, const QString &name)
{
    return path + QLatin1Char('.') + name;
}

int to_int32(double number)
{
    constexpr int lowest = std::numeric_limits<int>::min();
    constexpr int highest = std::numeric_limits<int>::max();
    if (std::isnan(number))
        return 0;
    // Compared before the cast: converting a double outside the int range is undefined.
    if (number <= static_cast<double>(lowest))
        return lowest;
    if (number >= static_cast<double>(highest))
        return highest;
    return static_cast<int>(number); // truncates toward zero
}

int member_number(const QStringList &members, const QString &key)
{
    if (key.isEmpty())
        return -1;
    const int position = lookup_word(members, key);
    if (position < 0)
        return -1;
    // "*" is found only in lists that accept it; it addresses every member instead of its own position.
    return key == QLatin1String("*") ? all_members : position;
}

bool read_bool(const QJsonValue &value, const QString &path, int &out, QString &error)
{
    if (!value.isBool()) {
        error = invalid_type(path, Expected::Bool);
        return false;
    }
    out = value.toBool() ? 1 : 0;
    return true;
}

bool read_word(const QJsonValue &value, const QStringList &words, const QString &path, int &out, QString &error)
{
    if (!value.isString()) {
        error = invalid_type(path, Expected::String);
        return false;
    }
    const QString word = value.toString();
    const int position = lookup_word(words, word);
    if (position < 0) {
        error = invalid_value(word, path);
        return false;
    }
    out = position;
    return true;
}

bool read_number(const QJsonValue &value, int min, int max, const QString &path, int &out, QString &error)
{
    if (!value.isDouble()) {
        error = invalid_type(path, Expected::Number);
        return false;
    }
    const int number = to_int32(value.toDouble());
    if (number < min || number > max) {
        error = invalid_value(number, path);
        return false;
    }
    out = number;
    return true;
}

} // namespace korvel::jsonargs
