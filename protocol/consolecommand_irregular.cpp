// The irregular console commands: the two auto-cue targets and the studio remote's switches.
#include "console/ckorvel.h"
#include "console/items.h"
#include "protocol/consolecommand.h"

#include <QJsonObject>

namespace korvel::commands {

// The announcer and the control room are two items of one field each; "*" is not a target.
void auto_cue(CKorvel &console, ReportId, int member, const int *fields)
{
    console.set(member == 0 ? ReportId::auto_cue_ann : ReportId::auto_cue_crm, 0, fields);
}

// Each member switches at once, in name order: "comm" is sent before "cough" is read. "*" goes out as 255,
// all modules, as for every other command that takes it.
int studio_remote(CKorvel &console, int member, const QJsonValue &value, const QString &path, QString &error)
{
    if (!value.isObject()) {
        error = jsonargs::invalid_type(path, Expected::Object);
        return -1;
    }
    const QJsonObject switches = value.toObject();
    for (const auto &[id, name] : studio_remote_switches) {
        const QJsonValue given = switches.value(QLatin1String(name));
        if (given.isUndefined())
            continue;
        int state = 0;
        if (!jsonargs::read_bool(given, jsonargs::member_path(path, QLatin1String(name)), state, error))
            return -1;
        console.set(id, member, {state});
    }
    return 0;
}

} // namespace korvel::commands
