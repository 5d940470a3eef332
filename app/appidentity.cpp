#include "app/appidentity.h"

AppIdentity AppIdentity::korvel_control()
{
    return {QStringLiteral("Velmora"), QStringLiteral("Korvel Control"), QStringLiteral("korvel-control"),
            QStringLiteral("korvel")};
}

AppIdentity AppIdentity::emulated()
{
    return {QStringLiteral("Velmora"), QStringLiteral("Korvel Control Emulated"),
            QStringLiteral("korvel-control-emulated"), QStringLiteral("korvel-emulated")};
}
