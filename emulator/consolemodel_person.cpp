// A person at the console: keys, faders and switches, each reported as the console reports it.
#include "emulator/consolemodel.h"

namespace emulator {

void ConsoleModel::press_on_key(int mod)
{
    if (mod < 0 || mod >= module_count)
        return;
    const Items before = items;
    set_byte(0x20, mod, is_on(mod) ? 0 : 1);
    commit(0x20, before, false);
}

void ConsoleModel::move_fader(int mod, bool open)
{
    if (mod < 0 || mod >= module_count)
        return;
    const Items before = items;
    set_byte(0x22, mod, open ? 1 : 0);
    commit(0x22, before, false);
}

void ConsoleModel::press_cue(int bus)
{
    if (bus < 0 || bus >= cue_count)
        return;
    const Items before = items;
    switch_cue(bus, !is_cue_on(bus));
    commit(0x21, before, false);
}

void ConsoleModel::set_control_key(int key, bool down)
{
    if (key < 0 || key >= ctrl_key_count)
        return;
    const Items before = items;
    const auto bit = static_cast<quint16>(1u << key);
    set_word(0x04, down ? static_cast<quint16>(word(0x04) | bit) : static_cast<quint16>(word(0x04) & ~bit));
    commit(0x04, before, false);
}

void ConsoleModel::press_control_key(int key)
{
    set_control_key(key, true);
    set_control_key(key, false);
}

void ConsoleModel::select_source(int mod, int source)
{
    if (mod < 0 || mod >= module_count || source < 0 || source > 1)
        return;
    const Items before = items;
    set_byte(0x24, mod, static_cast<unsigned char>(source));
    commit(0x24, before, false);
}

void ConsoleModel::press_auto_cue(int target)
{
    if (target < 0 || target > 1)
        return;
    const Items before = items;
    set_byte(0x23, target, byte(0x23, target) ? 0 : 1);
    commit(0x23, before, false);
}

void ConsoleModel::press_non_stop()
{
    const Items before = items;
    set_byte(0x25, 0, is_non_stop() ? 0 : 1);
    commit(0x25, before, false);
}

void ConsoleModel::set_comm(int mod, bool on)
{
    if (mod < 0 || mod >= mic_module_count)
        return;
    const Items before = items;
    set_byte(0x0B, mod, on ? 1 : 0);
    commit(0x0B, before, false);
}

void ConsoleModel::set_cough(int mod, bool on)
{
    if (mod < 0 || mod >= mic_module_count)
        return;
    const Items before = items;
    set_byte(0x0C, mod, on ? 1 : 0);
    commit(0x0C, before, false);
}

void ConsoleModel::set_track(int mod, int state)
{
    if (mod < 0 || mod >= module_count || state < 0 || state > 2)
        return;
    const Items before = items;
    set_byte(0x2C, mod, static_cast<unsigned char>(state));
    commit(0x2C, before, false);
}

void ConsoleModel::set_phone_ringing(bool ringing)
{
    const Items before = items;
    set_byte(0x2D, 0, ringing ? 1 : 0);
    commit(0x2D, before, false);
}

void ConsoleModel::set_voip_connect(bool connected)
{
    const Items before = items;
    set_byte(0x2E, 0, connected ? 1 : 0);
    commit(0x2E, before, false);
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
