#pragma once

#include <QString>

// The user's login autostart entry for this program: a desktop entry in $XDG_CONFIG_HOME/autostart that
// every freedesktop.org desktop starts at login. Present means on; there is none until the user asks for it.
class Autostart {
public:
    // file_name: the entry's file name, for example "korvel-control.desktop".
    explicit Autostart(const QString &file_name);

    QString path() const { return entry_path; }
    bool is_enabled() const;
    // Writes the entry that starts program, shown as name. false when the file cannot be written.
    bool enable(const QString &name, const QString &program) const;
    // Removes the entry. false when it is still there afterwards.
    bool disable() const;

    // The entry's text.
    static QString desktop_entry(const QString &name, const QString &program);
    // program as one argument of an Exec line, quoted and escaped where the desktop entry format needs it.
    static QString exec_argument(const QString &program);

private:
    QString entry_path;
};
