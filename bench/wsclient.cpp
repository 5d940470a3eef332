#include "wsclient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace wsbench {

int64_t monotonic_us()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

int64_t realtime_offset_ns()
{
    timespec real{}, mono{};
    clock_gettime(CLOCK_MONOTONIC, &mono);
    clock_gettime(CLOCK_REALTIME, &real);
    return (int64_t(real.tv_sec) - int64_t(mono.tv_sec)) * 1000000000 + (real.tv_nsec - mono.tv_nsec);
}

namespace {

bool wait_for(int fd, short events, int timeout_ms)
{
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, timeout_ms) > 0 && (p.revents & events);
}

} // namespace

Client::~Client()
{
    close(false);
}

bool Client::open(const char *host, uint16_t port, int timeout_ms)
{
    close(false);
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, host, &address.sin_addr);
    if (::connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) < 0 && errno != EINPROGRESS) {
        close(false);
        return false;
    }
    if (!wait_for(fd_, POLLOUT, timeout_ms)) {
        close(false);
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
        close(false);
        return false;
    }

    std::string request = "GET / HTTP/1.1\r\nHost: ";
    request += host;
    request += ":" + std::to_string(port);
    request += "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        close(false);
        return false;
    }
    // The answer's header, then frames may follow in the same read.
    const int64_t deadline = monotonic_us() + int64_t(timeout_ms) * 1000;
    in_.clear();
    start_ = 0;
    for (;;) {
        const size_t end = in_.find("\r\n\r\n");
        if (end != std::string::npos) {
            const bool upgraded = in_.compare(0, 12, "HTTP/1.1 101") == 0;
            in_.erase(0, end + 4);
            if (!upgraded)
                close(false);
            return upgraded;
        }
        const int64_t left = (deadline - monotonic_us()) / 1000;
        if (left <= 0 || !wait_for(fd_, POLLIN, static_cast<int>(left))) {
            close(false);
            return false;
        }
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            close(false);
            return false;
        }
        in_.append(buffer, static_cast<size_t>(n));
    }
}

bool Client::send_frame(Opcode opcode, std::string_view payload, int timeout_ms)
{
    if (fd_ < 0)
        return false;
    std::string frame;
    frame.reserve(payload.size() + 14);
    frame.push_back(static_cast<char>(0x80 | static_cast<uint8_t>(opcode)));
    if (payload.size() < 126) {
        frame.push_back(static_cast<char>(0x80 | payload.size()));
    } else if (payload.size() <= 0xFFFF) {
        frame.push_back(static_cast<char>(0x80 | 126));
        frame.push_back(static_cast<char>(payload.size() >> 8));
        frame.push_back(static_cast<char>(payload.size() & 0xFF));
    } else {
        frame.push_back(static_cast<char>(0x80 | 127));
        for (int i = 7; i >= 0; --i)
            frame.push_back(static_cast<char>((uint64_t(payload.size()) >> (8 * i)) & 0xFF));
    }
    const uint8_t mask[4] = {0x5A, 0x3C, 0xA5, 0xC3};
    frame.append(reinterpret_cast<const char *>(mask), 4);
    for (size_t i = 0; i < payload.size(); ++i)
        frame.push_back(static_cast<char>(static_cast<uint8_t>(payload[i]) ^ mask[i % 4]));

    size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait_for(fd_, POLLOUT, timeout_ms))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

bool Client::enable_receive_timestamps()
{
    const int one = 1;
    timestamps_ = fd_ >= 0 && ::setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one) == 0;
    return timestamps_;
}

bool Client::fill()
{
    for (;;) {
        const size_t old = in_.size();
        in_.resize(old + 65536);
        iovec io{in_.data() + old, 65536};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        if (timestamps_) {
            message.msg_control = control;
            message.msg_controllen = sizeof control;
        }
        const ssize_t n = ::recvmsg(fd_, &message, 0);
        if (n > 0) {
            in_.resize(old + static_cast<size_t>(n));
            received_ += static_cast<uint64_t>(n);
            for (cmsghdr *c = timestamps_ ? CMSG_FIRSTHDR(&message) : nullptr; c; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec t{};
                    std::memcpy(&t, CMSG_DATA(c), sizeof t);
                    receive_time_ns_ = int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
                }
            }
            if (n < 65536)
                return true;
            continue;
        }
        in_.resize(old);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        return false;
    }
}

bool Client::next_frame(Opcode &opcode, bool &fin, std::string_view &payload, size_t &consumed) const
{
    const size_t available = in_.size() - start_;
    if (available < 2)
        return false;
    const auto *p = reinterpret_cast<const uint8_t *>(in_.data() + start_);
    fin = (p[0] & 0x80) != 0;
    opcode = static_cast<Opcode>(p[0] & 0x0F);
    const bool masked = (p[1] & 0x80) != 0;
    uint64_t length = p[1] & 0x7F;
    size_t header = 2;
    if (length == 126) {
        if (available < 4)
            return false;
        length = (uint64_t(p[2]) << 8) | p[3];
        header = 4;
    } else if (length == 127) {
        if (available < 10)
            return false;
        length = 0;
        for (int i = 0; i < 8; ++i)
            length = (length << 8) | p[2 + i];
        header = 10;
    }
    if (masked)
        header += 4; // servers do not mask; such a frame is skipped unread
    if (available < header + length)
        return false;
    payload = std::string_view(in_.data() + start_ + header, static_cast<size_t>(length));
    consumed = header + static_cast<size_t>(length);
    return true;
}

void Client::close(bool clean)
{
    if (fd_ < 0)
        return;
    if (clean) {
        const char status[2] = {char(0x03), char(0xE8)}; // 1000, normal closure
        send_frame(Opcode::close, std::string_view(status, 2), 100);
    }
    ::close(fd_);
    fd_ = -1;
    in_.clear();
    start_ = 0;
    message_.clear();
}

std::string_view message_name(std::string_view json)
{
    const size_t key = json.rfind("\"msg\": \"");
    if (key == std::string_view::npos)
        return {};
    const size_t begin = key + 8;
    const size_t end = json.find('"', begin);
    return end == std::string_view::npos ? std::string_view() : json.substr(begin, end - begin);
}

bool number_field(std::string_view json, std::string_view key, double &value)
{
    std::string pattern = "\"";
    pattern += key;
    pattern += "\": ";
    const size_t at = json.find(pattern);
    if (at == std::string_view::npos)
        return false;
    const size_t begin = at + pattern.size();
    char buffer[40];
    const size_t n = std::min(sizeof buffer - 1, json.size() - begin);
    std::memcpy(buffer, json.data() + begin, n);
    buffer[n] = '\0';
    char *end = nullptr;
    value = std::strtod(buffer, &end);
    return end != buffer;
}

int level_byte(double level)
{
    const double v = level + 50.0;
    if (!(v >= 0.0) || v > 63.75)
        return -1;
    const double whole = std::floor(v);
    const double quarters = (v - whole) * 4.0;
    if (quarters != std::floor(quarters))
        return -1;
    return static_cast<int>(whole) | (static_cast<int>(quarters) << 6);
}

bool parse_metering_stamp(std::string_view json, MeteringStamp &stamp)
{
    static const char *const keys[6] = {"pgm_left",     "pgm_right", "phones_left",
                                        "phones_right", "crm_left",  "crm_right"};
    uint8_t bytes[6];
    for (int i = 0; i < 6; ++i) {
        double level = 0;
        if (!number_field(json, keys[i], level))
            return false;
        const int b = level_byte(level);
        if (b < 0)
            return false;
        bytes[i] = static_cast<uint8_t>(b);
    }
    stamp.sequence = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
    stamp.time_us =
        uint32_t(bytes[2]) | (uint32_t(bytes[3]) << 8) | (uint32_t(bytes[4]) << 16) | (uint32_t(bytes[5]) << 24);
    return true;
}

} // namespace wsbench
