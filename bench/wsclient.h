#pragma once
// A lean WebSocket client on plain POSIX sockets for load tests: many connections in one thread without a
// toolkit in the way, so the client's own cost stays small next to the server's. Only what the load tests need:
// the opening handshake, masked text frames out, unmasked frames in (with continuations), close and ping.

#include <cstdint>
#include <string>
#include <string_view>

namespace wsbench {

// CLOCK_MONOTONIC in microseconds: the clock the emulated console stamps its metering reports with.
int64_t monotonic_us();
// CLOCK_REALTIME minus CLOCK_MONOTONIC, in nanoseconds: turns the kernel's receive stamps into monotonic time.
int64_t realtime_offset_ns();

enum class Opcode : uint8_t { continuation = 0, text = 1, binary = 2, close = 8, ping = 9, pong = 10 };

class Client {
public:
    Client() = default;
    ~Client();
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    // TCP connect and opening handshake, blocking for at most timeout_ms; the socket is non-blocking after.
    bool open(const char *host, uint16_t port, int timeout_ms = 5000);
    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // One masked frame. Waits while the socket's send buffer is full, for at most timeout_ms.
    bool send_frame(Opcode opcode, std::string_view payload, int timeout_ms = 5000);
    bool send_text(std::string_view text, int timeout_ms = 5000) { return send_frame(Opcode::text, text, timeout_ms); }

    // Reads what is waiting and calls on_message(opcode, payload) for every complete message (continuations
    // joined). Answers pings. Returns false when the connection is closed (by either side) or failed.
    template <class OnMessage>
    bool read_available(OnMessage &&on_message);

    // Sends a close frame (when clean) and closes the socket.
    void close(bool clean = true);
    // Asks the kernel to stamp received data (SO_TIMESTAMPNS, CLOCK_REALTIME); see receive_time_ns().
    bool enable_receive_timestamps();
    // When the data of the last read reached this socket, in CLOCK_REALTIME nanoseconds (0 when unknown).
    int64_t receive_time_ns() const { return receive_time_ns_; }
    // Bytes received in all, frames included.
    uint64_t bytes_received() const { return received_; }
    bool close_received() const { return close_received_; }

private:
    // Reads into the buffer; false on end of stream or error. Leaves the buffer unchanged on EAGAIN.
    bool fill();
    // The next complete frame in the buffer, if any: opcode, fin, payload; consumed is its total size.
    bool next_frame(Opcode &opcode, bool &fin, std::string_view &payload, size_t &consumed) const;

    int fd_ = -1;
    std::string in_;
    size_t start_ = 0;
    std::string message_;
    Opcode message_opcode_ = Opcode::text;
    uint64_t received_ = 0;
    bool close_received_ = false;
    bool timestamps_ = false;
    int64_t receive_time_ns_ = 0;
};

template <class OnMessage>
bool Client::read_available(OnMessage &&on_message)
{
    if (fd_ < 0)
        return false;
    const bool alive = fill();
    Opcode opcode;
    bool fin = false;
    std::string_view payload;
    size_t consumed = 0;
    while (next_frame(opcode, fin, payload, consumed)) {
        switch (opcode) {
        case Opcode::ping:
            send_frame(Opcode::pong, payload);
            break;
        case Opcode::pong:
            break;
        case Opcode::close:
            close_received_ = true;
            break;
        case Opcode::continuation:
            message_.append(payload);
            if (fin)
                on_message(message_opcode_, std::string_view(message_));
            break;
        default:
            if (fin) {
                on_message(opcode, payload);
            } else {
                message_opcode_ = opcode;
                message_.assign(payload);
            }
            break;
        }
        start_ += consumed;
        if (close_received_)
            break;
    }
    // Keep the buffer small: drop what was consumed once it is a good part of it.
    if (start_ > 0 && (start_ == in_.size() || start_ > 65536)) {
        in_.erase(0, start_);
        start_ = 0;
    }
    if (close_received_) {
        close(false);
        return false;
    }
    return alive;
}

// What the load tests read from a notification text (the indented JSON of the server).
// The value of "msg", or empty.
std::string_view message_name(std::string_view json);
// The number after "key": in the text, if there is one.
bool number_field(std::string_view json, std::string_view key, double &value);

// The stamp of a metering report as its six levels carry it (emulator/benchmodel.h).
struct MeteringStamp {
    uint16_t sequence = 0;
    uint32_t time_us = 0;
};
// The level byte of a level (inverse of the console's encoding), -1 for a number no byte gives.
int level_byte(double level);
bool parse_metering_stamp(std::string_view json, MeteringStamp &stamp);

} // namespace wsbench
