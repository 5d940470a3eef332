#include "websocket/consolecommand.h"

#include "console/valuelists.h"

#include <QJsonObject>

namespace korvel::commands {

namespace {

enum class Outcome { Read, Refused, Dropped };

Outcome read_field(const Field &field, const QJsonValue &value, const QString &path, int &out, QString &error)
{
    switch (field.kind) {
    case Kind::Bool:
        return jsonargs::read_bool(value, path, out, error) ? Outcome::Read : Outcome::Refused;
    case Kind::Number:
        return jsonargs::read_number(value, field.min, field.max, path, out, error) ? Outcome::Read : Outcome::Refused;
    case Kind::Word:
        if (field.ignore_unknown_word && value.isString() && lookup_word(*field.words, value.toString()) < 0)
            return Outcome::Dropped;
        return jsonargs::read_word(value, *field.words, path, out, error) ? Outcome::Read : Outcome::Refused;
    }
    return Outcome::Refused;
}

const Form *form_for(const Command &command, const QJsonValue &value)
{
    for (const Form &form : command.forms) {
        if (form.type == value.type())
            return &form;
    }
    return nullptr;
}

// One value (a key's, or "data" itself) at path, carried out for member.
int carry_out_value(CKorvel &console, const Command &command, int member, const QJsonValue &value, const QString &path,
                    QString &error)
{
    const Form *form = form_for(command, value);
    if (!form || (form->needs_members && value.toObject().isEmpty())) {
        error = jsonargs::invalid_type(path, command.expected);
        return -1;
    }

    Args args;
    args.fill(-1);
    const QJsonObject settings = value.toObject();
    for (const Field &field : form->fields) {
        const bool plain = field.name == nullptr;
        const QJsonValue member_value = plain ? value : settings.value(QLatin1String(field.name));
        if (member_value.isUndefined()) {
            args[field.arg] = field.absent;
            continue;
        }
        int translated = 0;
        const QString field_path = plain ? path : jsonargs::member_path(path, QLatin1String(field.name));
        switch (read_field(field, member_value, field_path, translated, error)) {
        case Outcome::Refused:
            return -1;
        case Outcome::Dropped:
            return 0;
        case Outcome::Read:
            break;
        }
        args[field.arg] = translated;
        if (field.operation)
            field.operation(console, member, args);
    }
    if (form->operation)
        form->operation(console, member, args);
    return 0;
}

} // namespace

int carry_out(CKorvel &console, const Command &command, const QJsonValue &data, QString &error)
{
    const QString root = QStringLiteral("data");
    if (!command.keys)
        return carry_out_value(console, command, 0, data, root, error);

    // Absent, not an object, or empty: nothing to do.
    const QJsonObject object = data.toObject();
    // QJsonObject walks its keys in ascending order, whatever their order in the message.
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        const QString path = jsonargs::member_path(root, it.key());
        const int member = jsonargs::member_number(*command.keys, it.key());
        if (member < 0) {
            error = jsonargs::invalid_key(path);
            return -1;
        }
        if (carry_out_value(console, command, member, it.value(), path, error) < 0)
            return -1;
    }
    return 0;
}

Field flag(const char *name, int arg)
{
    Q_ASSERT(arg >= 0 && arg < max_args);
    return Field{.name = name, .kind = Kind::Bool, .arg = arg};
}

Field word(const char *name, const QStringList &words, int arg)
{
    Q_ASSERT(arg >= 0 && arg < max_args);
    return Field{.name = name, .kind = Kind::Word, .words = &words, .arg = arg};
}

Field number(const char *name, int min, int max, int arg, int absent)
{
    Q_ASSERT(arg >= 0 && arg < max_args);
    return Field{.name = name, .kind = Kind::Number, .min = min, .max = max, .arg = arg, .absent = absent};
}

Command keyed_flag(const QStringList &keys, Operation operation)
{
    return Command{.keys = &keys,
                   .expected = Expected::Bool,
                   .forms = {Form{.type = QJsonValue::Bool, .fields = {flag(nullptr, 0)}, .operation = operation}}};
}

Command keyed_word(const QStringList &keys, const QStringList &words, Operation operation)
{
    return Command{
        .keys = &keys,
        .expected = Expected::String,
        .forms = {Form{.type = QJsonValue::String, .fields = {word(nullptr, words, 0)}, .operation = operation}}};
}

Command keyed_settings(const QStringList &keys, std::vector<Field> members, Operation operation)
{
    return Command{.keys = &keys,
                   .expected = Expected::Object,
                   .forms = {Form{.type = QJsonValue::Object, .fields = std::move(members), .operation = operation}}};
}

} // namespace korvel::commands
