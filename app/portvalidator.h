#pragma once

#include <QIntValidator>
#include <optional>

// Accepts whole port numbers from 1 to 65535. A text that is not one when editing ends is replaced by the
// last port applied, so an invalid text is never applied nor stored.
class PortValidator : public QIntValidator {
    Q_OBJECT

public:
    explicit PortValidator(QObject *parent = nullptr);

    void set_fallback(const QString &text) { fallback = text; }
    const QString &fallback_text() const { return fallback; }
    void fixup(QString &input) const override;

    static bool is_valid_port(qint64 port) { return port >= 1 && port <= 65535; }
    // The port a text names, if it is a whole decimal number from 1 to 65535.
    static std::optional<int> port_of(const QString &text);

private:
    QString fallback;
};
