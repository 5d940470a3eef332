#include "app/portvalidator.h"

PortValidator::PortValidator(QObject *parent)
    : QIntValidator(1, 65535, parent)
{
}

void PortValidator::fixup(QString &input) const
{
    input = fallback;
}
