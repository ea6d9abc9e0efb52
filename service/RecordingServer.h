#pragma once

#include <httplib.h>

#include <string>

namespace Cogitra::Service {

// The HTTP server with one addition: it keeps each request's head (request line and
// header lines) as the bytes came, so that the request log can give the headers in the
// order the client sent them (the parsed request holds them sorted by name), and it knows
// each request's socket, so that a fault can drop the connection. It also bounds what one
// request may send: the server checks an announced Content-Length itself, but reads a
// chunked body whole, so the stream stops reading a request past its head and the body
// limit.
class RecordingServer : public httplib::Server
{
public:
    // The head of the request being handled on this thread, and its socket.
    [[nodiscard]] static const std::string &currentHead();
    static void dropCurrentConnection();
    // Whether the request being handled on this thread sent more than the body limit.
    [[nodiscard]] static bool currentRequestOverLimit();

    void setBodyLimit(size_t bytes) { m_BodyLimit = bytes; }

private:
    bool process_and_close_socket(socket_t sock) override;
    [[nodiscard]] bool waitForRequest(socket_t sock) const;

    size_t m_BodyLimit = 16 * 1024 * 1024;
};

} // namespace Cogitra::Service
