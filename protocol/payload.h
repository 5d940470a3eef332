#pragma once

#include <QtGlobal>

// What the "data" of a message outside the console commands holds: a query, its reply, a subscription, the
// password exchange and the messages the server sends by itself. The dispatcher's table names one per message;
// the protocol description (tools/websocket_schema) turns each into its JSON Schema.
namespace korvel::protocol {

enum class Payload : quint8 {
    ignored,       // not read: any value, or none
    flag,          // true or false
    number,        // a whole number from min to max
    text,          // a string
    topics,        // a topic, or an array of topics
    topics_or_all, // the same, or "*" for every topic
    topic_list,    // an array of topics
    version,       // "major.minor.patch"
    firmware,      // the console's version string, or null before the console has reported it
    config,        // the configuration snapshot
    states,        // the state snapshot
    all,           // both snapshots in one object
    challenge,     // {"challenge", "salt"}: base64 texts
    device_status, // "connected" or "disconnected"
    error,         // the text of a refusal
};

struct Data {
    Payload payload = Payload::ignored;
    int min = 0; // Payload::number
    int max = 0;
};

} // namespace korvel::protocol
