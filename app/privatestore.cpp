// Keeping the settings file to its user.
#include "app/privatestore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace korvel::app {

bool restrict_store(QSettings &settings)
{
    constexpr QFile::Permissions user_only = QFile::ReadOwner | QFile::WriteOwner;
    constexpr QFile::Permissions user_only_dir = user_only | QFile::ExeOwner;
    settings.sync();
    const QString name = settings.fileName();
    const QString folder = QFileInfo(name).absolutePath();
    if (!QFile::exists(name)) {
        // Created private, not made private after the fact.
        QDir().mkpath(folder);
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly, user_only))
            return false;
    }
    bool ok = QFile::setPermissions(name, user_only);
    // The organisation's folder is the application's own (the configuration folder above it is not).
    const QString organisation = QCoreApplication::organizationName();
    if (!organisation.isEmpty() && QFileInfo(folder).fileName() == organisation)
        ok = QFile::setPermissions(folder, user_only_dir) && ok;
    return ok;
}

} // namespace korvel::app
