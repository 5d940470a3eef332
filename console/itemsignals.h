// Which typed signal of CKorvel announces the changes of which catalogue item: read by the decoder, which emits
// them, and by the protocol core, which turns each into its notification.
#pragma once

#include "console/ckorvel.h"
#include "console/reportid.h"

#include <tuple>

namespace korvel {

template <auto Signal>
struct ItemSignal {
    ReportId id;
    static constexpr auto signal = Signal;
};

// Every item whose state report announces changes, with its signal. The LED reports and metering have signals
// of their own: their events are not one per item's member.
inline constexpr std::tuple item_signals{
    ItemSignal<&CKorvel::ctrl_switch_event>{ReportId::ctrl_key},
    ItemSignal<&CKorvel::state_comm_event>{ReportId::comm},
    ItemSignal<&CKorvel::state_cough_event>{ReportId::cough},
    ItemSignal<&CKorvel::state_vt_event>{ReportId::voicetrack},
    ItemSignal<&CKorvel::config_auto_on_event>{ReportId::config_auto_on},
    ItemSignal<&CKorvel::config_cue_reset_event>{ReportId::config_cue_reset},
    ItemSignal<&CKorvel::config_on_air_event>{ReportId::config_on_air},
    ItemSignal<&CKorvel::config_crm_mute_event>{ReportId::config_crm_mute},
    ItemSignal<&CKorvel::config_crm_auto_cue_reset_event>{ReportId::config_crm_auto_cue_reset},
    ItemSignal<&CKorvel::config_studio_remote_event>{ReportId::config_studio_remote},
    ItemSignal<&CKorvel::config_cue_interlock_event>{ReportId::config_cue_interlock},
    ItemSignal<&CKorvel::config_gpo_event>{ReportId::config_gpo},
    ItemSignal<&CKorvel::config_cue_event>{ReportId::config_cue},
    ItemSignal<&CKorvel::config_on_event>{ReportId::config_on},
    ItemSignal<&CKorvel::config_fader_reserve_event>{ReportId::config_fader_reserve},
    ItemSignal<&CKorvel::config_silence_detection_event>{ReportId::config_silence_detection},
    ItemSignal<&CKorvel::config_phantom_event>{ReportId::config_phantom},
    ItemSignal<&CKorvel::config_mic_at_line_event>{ReportId::config_mic_at_line},
    ItemSignal<&CKorvel::config_auto_off_event>{ReportId::config_auto_off},
    ItemSignal<&CKorvel::state_on_event>{ReportId::on},
    ItemSignal<&CKorvel::state_cue_event>{ReportId::cue},
    ItemSignal<&CKorvel::state_fader_event>{ReportId::fader},
    ItemSignal<&CKorvel::state_auto_cue_event>{ReportId::auto_cue},
    ItemSignal<&CKorvel::state_src_sel_event>{ReportId::source_select},
    ItemSignal<&CKorvel::state_non_stop_event>{ReportId::non_stop},
    ItemSignal<&CKorvel::state_mic_on_event>{ReportId::mic_on},
    ItemSignal<&CKorvel::state_gpo_event>{ReportId::gpo},
    ItemSignal<&CKorvel::state_on_air_event>{ReportId::on_air},
    ItemSignal<&CKorvel::state_silence_detection_event>{ReportId::silence_detection},
    ItemSignal<&CKorvel::state_module_event>{ReportId::module_active},
    ItemSignal<&CKorvel::state_crm_mute_event>{ReportId::crm_mute},
    ItemSignal<&CKorvel::state_track_event>{ReportId::track},
    ItemSignal<&CKorvel::state_phone_ringing_event>{ReportId::phone_ringing},
    ItemSignal<&CKorvel::state_connect_event>{ReportId::voip_connect},
    ItemSignal<&CKorvel::config_locked_on_event>{ReportId::config_locked_on},
    ItemSignal<&CKorvel::config_pgm_auto_off_event>{ReportId::config_pgm_auto_off},
    ItemSignal<&CKorvel::config_mic_on_event>{ReportId::config_mic_on},
};

} // namespace korvel
