#pragma once

#include "websocket/jsonargs.h"

#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <array>
#include <cstddef>
#include <utility>
#include <vector>

class CKorvel;

// The console commands of the WebSocket API described as data: which keys a command takes, what each key's
// value must look like, and which console operation carries it out. One routine (carry_out) walks a message
// through such a description, so every command follows the same order of checks and gives the same refusals.
namespace korvel::commands {

using jsonargs::Expected;

inline constexpr int max_args = 5;
using Args = std::array<int, max_args>;
// Calls one console operation with a member number (unused by commands without keys) and the arguments.
using Operation = void (*)(CKorvel &console, int member, const Args &args);

enum class Kind { Bool, Word, Number };

// One value a command reads: a key's value itself, or one member of a settings object.
struct Field {
    const char *name = nullptr; // member of a settings object; null for the value itself
    Kind kind = Kind::Bool;
    const QStringList *words = nullptr; // Kind::Word
    int min = 0;                        // Kind::Number, inclusive
    int max = 0;
    int arg = 0;     // index of the operation argument it fills
    int absent = -1; // passed when the member is absent: "keep what the console has"
    // Called as soon as this member is read, for settings whose members each switch something of their own.
    Operation operation = nullptr;
    // A word outside the list is dropped quietly instead of refused.
    bool ignore_unknown_word = false;
};

// What a value of one JSON type means.
struct Form {
    QJsonValue::Type type = QJsonValue::Undefined;
    // A plain value: one field without a name. A settings object: its members, in the order they are read.
    std::vector<Field> fields;
    Operation operation = nullptr; // called once every field has been read
    bool needs_members = false;    // an empty settings object is refused as the wrong type
};

struct Command {
    // The member list the keys of "data" are looked up in; null when "data" is the value itself.
    const QStringList *keys = nullptr;
    Expected expected = Expected::Object; // named when the value fits none of the forms
    std::vector<Form> forms;
};

// Carries out one console command on "data". 0: done (or nothing to do); -1: refused at the first fault, with
// error set. Keys are taken in ascending order, each sent before the next is read, so keys before a refused
// one stay in effect.
int carry_out(CKorvel &console, const Command &command, const QJsonValue &data, QString &error);

// Field builders, named after what the member holds.
Field flag(const char *name, int arg);
Field word(const char *name, const QStringList &words, int arg);
Field number(const char *name, int min, int max, int arg, int absent = -1);

// Command builders for the common shapes.
Command keyed_flag(const QStringList &keys, Operation operation);
Command keyed_word(const QStringList &keys, const QStringList &words, Operation operation);
Command keyed_settings(const QStringList &keys, std::vector<Field> members, Operation operation);

// Adapters from a CKorvel operation to an Operation, the argument count taken from the operation itself.
template <typename... P>
constexpr std::size_t parameter_count(void (CKorvel::*)(P...))
{
    return sizeof...(P);
}

// operation(member, args[0], args[1], ...)
template <auto method>
void with_member(CKorvel &console, int member, const Args &args)
{
    [&]<std::size_t... i>(std::index_sequence<i...>)
    {
        (console.*method)(member, args[i]...);
    }
    (std::make_index_sequence<parameter_count(method) - 1>{});
}

// operation(args[0], args[1], ...)
template <auto method>
void without_member(CKorvel &console, int, const Args &args)
{
    [&]<std::size_t... i>(std::index_sequence<i...>)
    {
        (console.*method)(args[i]...);
    }
    (std::make_index_sequence<parameter_count(method)>{});
}

} // namespace korvel::commands
