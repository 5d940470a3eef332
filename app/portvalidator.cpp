#include "app/portvalidator.h"

#include <QLocale>

PortValidator::PortValidator(QObject *parent)
    : QIntValidator(1, 65535, parent)
{
    // Plain digits whatever the user's locale: no group separators, as port_of() reads them.
    QLocale plain = QLocale::c();
    plain.setNumberOptions(QLocale::RejectGroupSeparator);
    setLocale(plain);
}

void PortValidator::fixup(QString &input) const
{
    input = fallback;
}

std::optional<int> PortValidator::port_of(const QString &text)
{
    bool ok = false;
    const int port = text.toInt(&ok, 10);
    if (!ok || !is_valid_port(port))
        return std::nullopt;
    return port;
}
