// The one routine that carries out a console command described in the command table.
#include "protocol/consolecommand.h"

#include "console/ckorvel.h"

#include <QJsonObject>

namespace korvel::commands {

namespace {

enum class FieldRead { Read, Refused, Dropped };

FieldRead read_field(const Command &command, const layout::Field &field, const QJsonValue &value, const QString &path,
                     int &out, QString &error)
{
    switch (field.kind) {
    case layout::Kind::flag:
        return jsonargs::read_bool(value, path, out, error) ? FieldRead::Read : FieldRead::Refused;
    case layout::Kind::number:
    case layout::Kind::signed_number:
        return jsonargs::read_number(value, field.min, field.max, path, out, error) ? FieldRead::Read
                                                                                    : FieldRead::Refused;
    case layout::Kind::word:
    case layout::Kind::colour:
        break;
    }
    const QStringList &words = *layout::words_of(field);
    if (command.drop_unknown_word && value.isString() && lookup_word(words, value.toString()) < 0)
        return FieldRead::Dropped;
    return jsonargs::read_word(value, words, path, out, error) ? FieldRead::Read : FieldRead::Refused;
}

const Form *form_for(const Command &command, const QJsonValue &value)
{
    // An unused slot of the table has the type Undefined, which an absent value has too.
    for (const Form &form : command.forms) {
        if (form.count > 0 && form.type == value.type())
            return &form;
    }
    return nullptr;
}

// One value (a key's, or "data" itself) at path, carried out for member.
int carry_out_value(CKorvel &console, const Command &command, int member, const QJsonValue &value, const QString &path,
                    QString &error)
{
    if (command.custom)
        return command.custom(console, member, value, path, error);
    const Form *form = form_for(command, value);
    if (!form || (form->needs_members && value.toObject().isEmpty())) {
        error = jsonargs::invalid_type(path, command.expected);
        return -1;
    }

    const std::span<const layout::Field> fields = item(form->item).fields;
    std::array<int, layout::max_fields> args{};
    const QJsonObject settings = value.toObject();
    for (int n = 0; n < form->count; ++n) {
        const int k = form->reading[n];
        const layout::Field &field = fields[k];
        const bool plain = field.name == nullptr;
        const QJsonValue given = plain ? value : settings.value(QLatin1String(field.name));
        if (given.isUndefined()) {
            // Absent: keep what the console has.
            args[k] = field.marker;
            continue;
        }
        const QString field_path = plain ? path : jsonargs::member_path(path, QLatin1String(field.name));
        switch (read_field(command, field, given, field_path, args[k], error)) {
        case FieldRead::Refused:
            return -1;
        case FieldRead::Dropped:
            return 0;
        case FieldRead::Read:
            break;
        }
    }
    if (command.operation)
        command.operation(console, form->item, member, args.data());
    else
        console.set(form->item, member, args.data());
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

const Command *find_command(QStringView name)
{
    for (const Command &command : command_table) {
        if (name == QLatin1String(command.name.data(), static_cast<qsizetype>(command.name.size())))
            return &command;
    }
    return nullptr;
}

} // namespace korvel::commands
