// http/session.h: one client connection of a worker: its requests read one at a time, each
// answered by the service, kept alive as the client asks, within the worker's limits.
#ifndef KSERVE_HTTP_SESSION_H
#define KSERVE_HTTP_SESSION_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "http/beast.h"
#include "service/prepared.h"
#include "service/request.h"

namespace kserve {

class Worker;

class Session : public std::enable_shared_from_this<Session> {
  public:
    // Where a connection is: before its first request, between two requests of a kept-alive
    // connection, receiving a request, or answering one.
    enum class Phase { fresh, idle, reading, answering };

    Session(tcp::socket socket, Worker& worker, uint64_t client);
    void start() { read(true); }
    ~Session();

    Phase phase() const { return phase_; }
    // Waiting for a request: the first or the next on a kept-alive connection.
    bool waiting() const { return phase_ == Phase::fresh || phase_ == Phase::idle; }
    std::chrono::steady_clock::time_point since() const { return since_; }
    // Bytes of a request have arrived and are not yet taken apart.
    bool pending();
    // Closes the connection at once (to make room, or when the worker stops).
    void close_now();
    bool closed() const { return closed_; }

  private:
    void enter(Phase p) {
        phase_ = p;
        since_ = std::chrono::steady_clock::now();
    }
    void read(bool first);
    void on_header(beast::error_code ec);
    void on_read(beast::error_code ec);
    bool keep_alive(const http::request<http::string_body>& req);
    void respond(Response res, bool keep_alive, unsigned version, bool head);
    void wait_for_place(PreparedRequest q);
    void answer(const PreparedRequest& q, bool expensive);
    void release();
    void linger();
    void discard();
    void finish();

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    http::response<http::string_body> res_;
    http::response<http::file_body> file_res_;  // an answer spilled into a temporary file
    Worker& worker_;
    uint64_t client_;
    std::string peer_;
    std::string request_line_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point since_;
    Phase phase_ = Phase::fresh;
    size_t held_ = 0;     // bytes of the answer being sent, kept in memory
    size_t spilled_ = 0;  // ... or in a temporary file
    bool closed_ = false;
    std::optional<net::steady_timer> parked_;  // an expensive map waiting for its place
    std::chrono::steady_clock::time_point parked_until_;
};

}  // namespace kserve

#endif
