#pragma once

#include <QJsonValue>
#include <QString>
#include <QStringList>

// Reading the arguments of a client's console command, and the three texts that refuse one.
//
// A key path names where in the message a value sits: "data", "data.mod3" or "data.gpo1.time". Every refusal
// of a console command is built here, so the texts cannot drift apart between commands.
namespace korvel::jsonargs {

// The JSON type a value must have, as a refusal names it.
enum class Expected { String, Bool, Number, Object, StringOrObject, RequestId };

QString type_name(Expected expected);

QString invalid_key(const QString &path);
QString invalid_type(const QString &path, Expected expected);
// value is quoted as the client sent it.
QString invalid_value(const QString &value, const QString &path);
// number is the integer the range check was made on.
QString invalid_value(int number, const QString &path);

// The path of a key or member inside the value at path.
QString member_path(const QString &path, const QString &name);

// A JSON number as a 32-bit integer: the fraction is dropped (toward zero) and numbers beyond the range take
// its nearest end. Not-a-number becomes 0 (the JSON parser never produces it).
int to_int32(double number);

// The member number a key stands for: its position in the member list, or 255 (all members) for "*"; -1 when
// the list does not hold the key. The empty word names no member, even where a list keeps an unnamed gap.
int member_number(const QStringList &members, const QString &key);

// Readers of one value at path. Each tests the JSON type, then translates the value into the number the
// console takes; on success it sets out and returns true, else it sets error and returns false.
// true 1, false 0.
bool read_bool(const QJsonValue &value, const QString &path, int &out, QString &error);
// The word's position in words.
bool read_word(const QJsonValue &value, const QStringList &words, const QString &path, int &out, QString &error);
// The integer of a number, from min to max.
bool read_number(const QJsonValue &value, int min, int max, const QString &path, int &out, QString &error);

} // namespace korvel::jsonargs
