#pragma once

#include <QByteArray>
#include <QHash>

// The files a responder serves, by request path, each with what its answer needs; made once.
namespace korvel::panel {

struct SiteFile {
    QByteArray content;
    // With its charset where it is text.
    QByteArray content_type;
    // A strong validator: a hash of the content, quoted.
    QByteArray etag;
};

class Site {
public:
    // Serves nothing.
    Site() = default;
    // The panel's page, compiled in (panel/CMakeLists.txt): "/" is index.html, every file also at "/" + its
    // path under panel/web/. Read from the resources on first use.
    static const Site &panel();

    void add(const QByteArray &path, const QByteArray &content, const QByteArray &content_type);
    const SiteFile *find(const QByteArray &path) const;

    // The media type for a file name's ending; application/octet-stream for one not known.
    static QByteArray content_type_of(const QString &file_name);

private:
    QHash<QByteArray, SiteFile> files;
};

} // namespace korvel::panel
