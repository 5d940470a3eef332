#pragma once

#include "console/valuelists.h"

#include <QStringList>

// The member names of the JSON colour objects, by the objects they make up: words a fuzzing client sends.
namespace korveltest {
inline const QStringList led_blink_keys{korvel::keys::color_on, korvel::keys::color_off, korvel::keys::blink_speed};
inline const QStringList cue_color_keys{korvel::keys::color_on, korvel::keys::color_off};
inline const QStringList on_color_keys{korvel::keys::color_on, korvel::keys::color_on_and_fader,
                                       korvel::keys::color_off};
} // namespace korveltest
