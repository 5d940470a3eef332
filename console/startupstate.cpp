// Follows the answers to the start-up requests after each opening of the link.
#include "console/startupstate.h"

#include "console/ckorvel.h"
#include "console/reportid.h"
#include "usb/cusbhid.h"

namespace {
quint64 bit_of(korvel::ReportId id)
{
    return quint64{1} << (static_cast<unsigned>(id) & 0x3F);
}

quint64 all_requested()
{
    quint64 bits = 0;
    for (const korvel::ReportId id : CKorvel::startup_requests())
        bits |= bit_of(id);
    return bits;
}
} // namespace

StartupState::StartupState(CUSBHID *link, QObject *parent)
    : QObject(parent)
    , wait(this)
{
    wait.setSingleShot(true);
    wait.setInterval(max_wait_ms);
    connect(&wait, &QTimer::timeout, this, &StartupState::finish);
    if (!link)
        return;
    connect(link, &CUSBHID::connected, this, &StartupState::on_connected);
    connect(link, &CUSBHID::disconnected, this, &StartupState::on_disconnected);
    connect(link, &CUSBHID::data_ready, this, &StartupState::on_data_ready);
}

void StartupState::on_connected()
{
    answered = 0;
    complete = false;
    waiting = true;
    wait.start();
}

void StartupState::on_disconnected()
{
    wait.stop();
    waiting = false;
    complete = false;
}

void StartupState::on_data_ready(const QByteArray &data)
{
    if (!waiting || data.size() < 2)
        return;
    const auto type = static_cast<unsigned char>(data[1]);
    if (korvel::message_of(type) != korvel::Message::state)
        return;
    answered |= bit_of(korvel::id_of(type));
    const quint64 wanted = all_requested();
    if ((answered & wanted) == wanted)
        finish();
}

void StartupState::finish()
{
    if (!waiting)
        return;
    wait.stop();
    waiting = false;
    complete = true;
    emit completed();
}
