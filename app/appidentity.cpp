#include "app/appidentity.h"

AppIdentity AppIdentity::korvel_control()
{
    return {QStringLiteral("Velmora"), QStringLiteral("Korvel Control"), QStringLiteral("korvel-control"),
            QStringLiteral("korvel"), false};
}

AppIdentity AppIdentity::emulated()
{
    return {QStringLiteral("Velmora"), QStringLiteral("Korvel Control Emulated"),
            QStringLiteral("korvel-control-emulated"), QStringLiteral("korvel-emulated"), true};
}

QString AppIdentity::titled(const QString &title) const
{
    return on_emulator ? title + QStringLiteral(" (emulated console)") : title;
}
