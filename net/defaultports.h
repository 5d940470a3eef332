#pragma once

// The network ports used unless the user chooses others: the UDP bridge's three destination ports and its
// listen port, and the WebSocket server's port. Every default in the program and its settings comes from here.
namespace korvel::ports {
inline constexpr int udp_metering = 19548;
inline constexpr int udp_configuration = 19549;
inline constexpr int udp_custom = 19550;
inline constexpr int udp_listen = 19551;
inline constexpr int websocket = 19552;
} // namespace korvel::ports
