#pragma once

#include <QObject>
#include <QString>

// Why the console did not open, found out from the library right after a failed hid_open.
struct OpenProblem {
    enum class Kind {
        none,          // the console is open, or no open was tried yet
        absent,        // no device with the console's USB ids
        not_permitted, // listed, but this user may not open its device node
        failing,       // listed, but the open failed otherwise (busy, held by another program, ...)
    };
    Kind kind = Kind::none;
    // The library's error text for the failed open (empty for none).
    QString detail;

    bool operator==(const OpenProblem &) const = default;

    // Asks hidapi: hid_error() for what the open said, hid_enumerate() for whether the console is there.
    static OpenProblem diagnose(int vid, int pid);
    // The classification alone, from what the library said: testable without a device.
    static OpenProblem classify(bool listed, bool node_refused, const QString &error);
};

// The link's current open problem, announced once per change rather than once per attempt.
class OpenProblemReport : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    const OpenProblem &current() const { return problem; }
    void set(const OpenProblem &next);

signals:
    void changed(const OpenProblem &problem);

private:
    OpenProblem problem;
};
