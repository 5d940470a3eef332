#pragma once

#include <QByteArray>
#include <QJsonObject>

#include <functional>

namespace e2e {

// The payload of one console item (the LED tables for 0x02 and 0x03), as the console holds it.
using ItemSource = std::function<QByteArray(unsigned char id)>;

// The emulated console's items as it leaves the factory (emulator/factorystate.h).
QByteArray factory_item(unsigned char id);

// What "get_all" must answer for a console whose items are these: worked out here from the bytes and the
// word lists, independently of the application's snapshot code.
QJsonObject expected_snapshot(const ItemSource &item);

} // namespace e2e
