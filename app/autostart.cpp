#include "app/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

Autostart::Autostart(const QString &file_name)
    : entry_path(QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                     .filePath(QStringLiteral("autostart/") + file_name))
{}

bool Autostart::is_enabled() const
{
    return QFileInfo::exists(entry_path);
}

bool Autostart::enable(const QString &name, const QString &program) const
{
    if (!QDir().mkpath(QFileInfo(entry_path).absolutePath()))
        return false;
    // Written whole or not at all: a half-written entry would start nothing, or something else.
    QSaveFile file(entry_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    file.write(desktop_entry(name, program).toUtf8());
    return file.commit();
}

bool Autostart::disable() const
{
    return !is_enabled() || QFile::remove(entry_path);
}

QString Autostart::desktop_entry(const QString &name, const QString &program)
{
    // Newlines would start new keys of the entry; a name is one line.
    QString one_line = name;
    one_line.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=%1\n"
                          "Exec=%2\n"
                          "Icon=korvel-control\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(one_line, exec_argument(program));
}

QString Autostart::exec_argument(const QString &program)
{
    // An argument with a reserved character goes in double quotes, with ", `, $ and \ escaped by a backslash;
    // a percent sign is a field code unless doubled. The value as a whole is a string value, whose own
    // escaping then doubles every backslash once more, and a line break would end the key.
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString argument;
    bool quote = program.isEmpty();
    for (const QChar c : program) {
        if (reserved.contains(c))
            quote = true;
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            argument += QLatin1Char('\\');
        if (c == QLatin1Char('%'))
            argument += QLatin1Char('%');
        argument += c;
    }
    if (quote)
        argument = QLatin1Char('"') + argument + QLatin1Char('"');
    argument.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    argument.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    argument.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    argument.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    return argument;
}
