#include "service/RecordingServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace Cogitra::Service {
namespace {

constexpr size_t kMaxRecordedHead = 64 * 1024;
// Room for a request's line and headers (and a chunked body's framing) above the body limit.
constexpr size_t kHeadAllowance = 1024 * 1024;

thread_local std::string t_Head;
thread_local socket_t t_Socket = INVALID_SOCKET;
thread_local bool t_OverLimit = false;

bool Wait(socket_t sock, short events, time_t seconds, time_t microseconds)
{
    pollfd fd{sock, events, 0};
    const int timeout = static_cast<int>(seconds * 1000 + microseconds / 1000);
    int ready = 0;
    do {
        ready = poll(&fd, 1, timeout);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

void Address(socket_t sock, bool peer, std::string &ip, int &port)
{
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    const int rc = peer ? getpeername(sock, reinterpret_cast<sockaddr *>(&address), &size)
                        : getsockname(sock, reinterpret_cast<sockaddr *>(&address), &size);
    if (rc != 0 || address.ss_family != AF_INET)
        return;
    const auto *in = reinterpret_cast<const sockaddr_in *>(&address);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    ip = text;
    port = ntohs(in->sin_port);
}

// A plain socket stream that also keeps what it reads, up to a bound.
class RecordingStream : public httplib::Stream
{
public:
    RecordingStream(socket_t sock, size_t requestLimit, time_t readSeconds, time_t readMicroseconds,
                    time_t writeSeconds, time_t writeMicroseconds)
        : m_Socket(sock)
        , m_RequestLimit(requestLimit)
        , m_ReadSeconds(readSeconds)
        , m_ReadMicroseconds(readMicroseconds)
        , m_WriteSeconds(writeSeconds)
        , m_WriteMicroseconds(writeMicroseconds)
    {}

    void startRequest()
    {
        m_Recorded.clear();
        m_Read = 0;
        t_OverLimit = false;
    }
    [[nodiscard]] const std::string &recorded() const { return m_Recorded; }

    bool is_readable() const override
    {
        return Wait(m_Socket, POLLIN, m_ReadSeconds, m_ReadMicroseconds);
    }
    bool is_writable() const override
    {
        return Wait(m_Socket, POLLOUT, m_WriteSeconds, m_WriteMicroseconds);
    }

    ssize_t read(char *ptr, size_t size) override
    {
        if (m_Read >= m_RequestLimit) {
            // The server takes a failed read as a bad request; the error handler makes it 413.
            t_OverLimit = true;
            return -1;
        }
        if (!is_readable())
            return -1;
        size = std::min(size, m_RequestLimit - m_Read);
        ssize_t n = 0;
        do {
            n = recv(m_Socket, ptr, size, 0);
        } while (n < 0 && errno == EINTR);
        if (n > 0) {
            m_Read += static_cast<size_t>(n);
            if (m_Recorded.size() < kMaxRecordedHead)
                m_Recorded.append(ptr, static_cast<size_t>(n));
        }
        return n;
    }

    ssize_t write(const char *ptr, size_t size) override
    {
        if (!is_writable())
            return -1;
        ssize_t n = 0;
        do {
            n = send(m_Socket, ptr, size, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override
    {
        Address(m_Socket, true, ip, port);
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override
    {
        Address(m_Socket, false, ip, port);
    }
    socket_t socket() const override { return m_Socket; }

private:
    socket_t m_Socket;
    size_t m_RequestLimit;
    size_t m_Read = 0;
    time_t m_ReadSeconds;
    time_t m_ReadMicroseconds;
    time_t m_WriteSeconds;
    time_t m_WriteMicroseconds;
    std::string m_Recorded;
};

} // namespace

const std::string &RecordingServer::currentHead()
{
    return t_Head;
}

bool RecordingServer::currentRequestOverLimit()
{
    return t_OverLimit;
}

void RecordingServer::dropCurrentConnection()
{
    if (t_Socket != INVALID_SOCKET)
        shutdown(t_Socket, SHUT_RDWR);
}

// Waits for the next request on a kept-alive connection, in short steps so that a
// stopping server does not wait for idle clients.
bool RecordingServer::waitForRequest(socket_t sock) const
{
    const auto deadline
        = std::chrono::steady_clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
    while (svr_sock_ != INVALID_SOCKET) {
        if (Wait(sock, POLLIN, 0, 100000))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
    }
    return false;
}

bool RecordingServer::process_and_close_socket(socket_t sock)
{
    // Heads and bodies go out in separate writes; without this, Nagle's algorithm holds the
    // second until the client's delayed acknowledgement.
    const int noDelay = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    const size_t requestLimit
        = m_BodyLimit > SIZE_MAX - kHeadAllowance ? SIZE_MAX : m_BodyLimit + kHeadAllowance;
    RecordingStream stream(sock, requestLimit, read_timeout_sec_, read_timeout_usec_,
                           write_timeout_sec_, write_timeout_usec_);
    bool result = false;
    for (size_t left = keep_alive_max_count_; left > 0 && waitForRequest(sock); --left) {
        stream.startRequest();
        bool connectionClosed = false;
        result = process_request(stream, left == 1, connectionClosed, [&](httplib::Request &) {
            const std::string &bytes = stream.recorded();
            const size_t end = bytes.find("\r\n\r\n");
            t_Head = end == std::string::npos ? std::string() : bytes.substr(0, end);
            t_Socket = sock;
        });
        t_Head.clear();
        t_Socket = INVALID_SOCKET;
        // The rest of a body over the limit is not read: it cannot start another request.
        if (!result || connectionClosed || t_OverLimit)
            break;
    }
    shutdown(sock, SHUT_RDWR);
    close(sock);
    return result;
}

} // namespace Cogitra::Service
