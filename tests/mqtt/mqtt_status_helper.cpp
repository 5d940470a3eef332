// Connects to the broker given as HOST PORT PREFIX, sets PREFIX/status to the JSON string "connected" and runs until
// killed.
#include "mqtt/client.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        QTextStream(stderr) << "usage: mqtt_status_helper HOST PORT PREFIX\n";
        return 2;
    }
    korvel::mqtt::Settings settings;
    settings.host = args[1];
    settings.port = args[2].toInt();
    settings.prefix = args[3];
    korvel::mqtt::Client mqtt(&app);
    mqtt.set_status(R"("connected")");
    mqtt.set_settings(settings);
    mqtt.start();
    return app.exec();
}
