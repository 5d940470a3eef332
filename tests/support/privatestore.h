#pragma once

#include <QSettings>
#include <QTemporaryDir>

#include <initializer_list>

// A settings store of this test process's own, in a temporary directory removed at the end: never the user's,
// and never shared with another test that ctest runs at the same time (QStandardPaths' test mode alone gives
// every test of one organisation and application the same file). Covers the native format and the given ones.
class PrivateStore {
public:
    explicit PrivateStore(std::initializer_list<QSettings::Format> formats = {})
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        for (QSettings::Format format : formats)
            QSettings::setPath(format, QSettings::UserScope, dir.path());
    }
    bool ready() const { return dir.isValid(); }

private:
    QTemporaryDir dir;
};
