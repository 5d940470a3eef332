// The panel's files from the compiled-in resources.
#include "panel/site.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace korvel::panel {

namespace {
const QString resource_folder = QStringLiteral(":/panel/web");
}

const Site &Site::panel()
{
    static const Site site = [] {
        Site made;
        const QDir folder(resource_folder);
        QDirIterator files(resource_folder, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QString name = folder.relativeFilePath(file.fileName());
            const QByteArray content = file.readAll();
            const QByteArray type = content_type_of(name);
            made.add("/" + name.toUtf8(), content, type);
            if (name == QLatin1String("index.html"))
                made.add("/", content, type);
        }
        return made;
    }();
    return site;
}

void Site::add(const QByteArray &path, const QByteArray &content, const QByteArray &content_type)
{
    const QByteArray hash = QCryptographicHash::hash(content, QCryptographicHash::Sha256).left(16).toHex();
    files.insert(path, SiteFile{content, content_type, '"' + hash + '"'});
}

const SiteFile *Site::find(const QByteArray &path) const
{
    const auto it = files.constFind(path);
    return it == files.cend() ? nullptr : &*it;
}

QByteArray Site::content_type_of(const QString &file_name)
{
    static const QHash<QString, QByteArray> types{
        {QStringLiteral("html"), "text/html; charset=utf-8"},
        {QStringLiteral("js"), "text/javascript; charset=utf-8"},
        {QStringLiteral("css"), "text/css; charset=utf-8"},
        {QStringLiteral("svg"), "image/svg+xml; charset=utf-8"},
        {QStringLiteral("json"), "application/json; charset=utf-8"},
        {QStringLiteral("webmanifest"), "application/manifest+json; charset=utf-8"},
        {QStringLiteral("png"), "image/png"},
        {QStringLiteral("ico"), "image/x-icon"},
        {QStringLiteral("woff2"), "font/woff2"},
    };
    return types.value(QFileInfo(file_name).suffix().toLower(), "application/octet-stream");
}

} // namespace korvel::panel
