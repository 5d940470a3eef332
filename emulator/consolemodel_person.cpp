// A person at the console: keys, faders and switches, each reported as the console reports it.
#include "emulator/consolemodel.h"

namespace emulator {

namespace {

bool is_module(int mod)
{
    return mod >= 0 && mod < module_count;
}

bool is_mic_module(int mod)
{
    return mod >= 0 && mod < mic_module_count;
}

} // namespace

void ConsoleModel::press_on_key(int mod)
{
    if (is_module(mod))
        change(item::on_state, false, [&](ConsoleItems &i) { i.set_byte(item::on_state, mod, !is_on(mod)); });
}

void ConsoleModel::move_fader(int mod, bool open)
{
    if (is_module(mod))
        change(item::fader_state, false, [&](ConsoleItems &i) { i.set_byte(item::fader_state, mod, open); });
}

void ConsoleModel::press_cue(int bus)
{
    if (bus >= 0 && bus < cue_count)
        change(item::cue_state, false, [&](ConsoleItems &i) { switch_cue(i, bus, !is_cue_on(bus)); });
}

void ConsoleModel::set_control_key(int key, bool down)
{
    if (key >= 0 && key < ctrl_key_count)
        change(item::control_keys, false, [&](ConsoleItems &i) { i.set_bit(item::control_keys, key, down); });
}

void ConsoleModel::press_control_key(int key)
{
    set_control_key(key, true);
    set_control_key(key, false);
}

void ConsoleModel::select_source(int mod, int source)
{
    if (is_module(mod) && (source == 0 || source == 1))
        change(item::source_select, false, [&](ConsoleItems &i) { i.set_byte(item::source_select, mod, source); });
}

void ConsoleModel::press_auto_cue(int target)
{
    if (target >= 0 && target < auto_cue_targets) {
        change(item::auto_cue_state, false,
               [&](ConsoleItems &i) { i.set_byte(item::auto_cue_state, target, !is_auto_cue_on(target)); });
    }
}

void ConsoleModel::press_non_stop()
{
    change(item::non_stop_state, false, [&](ConsoleItems &i) { i.set_byte(item::non_stop_state, 0, !is_non_stop()); });
}

void ConsoleModel::set_comm(int mod, bool on)
{
    if (is_mic_module(mod))
        change(item::comm, false, [&](ConsoleItems &i) { i.set_byte(item::comm, mod, on); });
}

void ConsoleModel::set_cough(int mod, bool on)
{
    if (is_mic_module(mod))
        change(item::cough, false, [&](ConsoleItems &i) { i.set_byte(item::cough, mod, on); });
}

void ConsoleModel::set_track(int mod, int state)
{
    if (is_module(mod) && state >= 0 && state <= max_track_state)
        change(item::track_state, false, [&](ConsoleItems &i) { i.set_byte(item::track_state, mod, state); });
}

void ConsoleModel::set_phone_ringing(bool ringing)
{
    change(item::phone_ringing, false, [&](ConsoleItems &i) { i.set_byte(item::phone_ringing, 0, ringing); });
}

void ConsoleModel::set_voip_connect(bool connected)
{
    change(item::voip_connect, false, [&](ConsoleItems &i) { i.set_byte(item::voip_connect, 0, connected); });
}

void ConsoleModel::unplug()
{
    device.unplug();
}

void ConsoleModel::replug()
{
    device.set_present(true);
}

} // namespace emulator
