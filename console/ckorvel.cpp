#include "console/ckorvel.h"

#include "console/items.h"
#include "usb/cusbhid.h"

#include <QDebug>

#include <iterator>

namespace {
using R = korvel::ReportId;
// Asked for on every open, in this order: firmware, LEDs and keys, the configuration tables, the states, then
// comm, cough and voice track. Phone ringing and the VoIP connection are not asked for.
constexpr R startup_requests[] = {
    R::firmware,
    R::ctrl_led,
    R::ctrl_led_blink,
    R::ctrl_key,
    R::config_auto_on,
    R::config_cue_reset,
    R::config_on_air,
    R::config_crm_mute,
    R::config_crm_auto_cue_reset,
    R::config_studio_remote,
    R::config_cue_interlock,
    R::config_gpo,
    R::config_cue,
    R::config_on,
    R::config_fader_reserve,
    R::config_silence_detection,
    R::config_phantom,
    R::config_mic_at_line,
    R::config_auto_off,
    R::config_locked_on,
    R::config_pgm_auto_off,
    R::config_mic_on,
    R::on,
    R::cue,
    R::fader,
    R::auto_cue,
    R::source_select,
    R::non_stop,
    R::mic_on,
    R::gpo,
    R::on_air,
    R::silence_detection,
    R::module_active,
    R::crm_mute,
    R::track,
    R::comm,
    R::cough,
    R::voicetrack,
};
static_assert(std::size(startup_requests) == 38);
} // namespace

CKorvel::CKorvel(CUSBHID *usb, QObject *parent)
    : QObject(parent)
    , usb(usb)
{
    connect(usb, &CUSBHID::connected, this, &CKorvel::on_connected);
    connect(usb, &CUSBHID::disconnected, this, &CKorvel::on_disconnected);
    connect(usb, &CUSBHID::data_ready, this, &CKorvel::on_data_ready);
}

std::span<const korvel::ReportId> CKorvel::startup_requests()
{
    return ::startup_requests;
}

void CKorvel::on_connected()
{
    qDebug().noquote() << "USB Connected!";
    for (const R id : ::startup_requests)
        request(korvel::type_byte(korvel::Message::request, id));
}

void CKorvel::on_disconnected()
{
    qDebug().noquote() << "USB Disconnected";
    cache.clear();
    led_blink_reported = 0;
    ++cache_generation;
}

void CKorvel::request(unsigned char id)
{
    send(id, {});
}

void CKorvel::send(unsigned char type, std::initializer_list<int> args)
{
    send(type, args.begin(), static_cast<int>(args.size()));
}

void CKorvel::send(unsigned char type, const int *args, int count)
{
    Q_ASSERT(count >= 0 && count <= output_report_length - 2);
    QByteArray report(output_report_length, '\0');
    report[0] = static_cast<char>(2 + count);
    report[1] = static_cast<char>(type);
    for (int i = 0; i < count; ++i)
        report[2 + i] = static_cast<char>(args[i] & 0xFF);
    usb->write(report);
}
