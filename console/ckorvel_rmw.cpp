// Read-modify-write commands: fields not given are filled from the report cache.
#include "console/ckorvel.h"

// TODO(console): implement; until then these send nothing.
void CKorvel::config_cue(int, int, int) {}
void CKorvel::config_cue_reset(int, int, int, int, int, int) {}
void CKorvel::config_gpo(int, int, int, int, int) {}
void CKorvel::config_on(int, int, int, int) {}
void CKorvel::config_pgm_auto_off(int, int, int) {}
void CKorvel::config_on_air(int, int, int, int, int) {}
void CKorvel::config_studio_remote(int, int, int, int) {}
void CKorvel::ctrl_led_blink(int, int, int, int) {}
void CKorvel::config_silence_detection(int, int, int, int, int) {}
