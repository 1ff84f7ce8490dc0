// session.cpp: a connection's requests: the framing checked, each request answered, the
// answer held in memory or spilled to a file, kept alive or lingered over.
#include "http/session.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

#include "http/crash.h"
#include "http/limits.h"
#include "http/log.h"
#include "http/worker.h"
#include "kcommon/log_text.h"
#include "service/metrics.h"
#include "service/service.h"

namespace kserve {

Session::Session(tcp::socket socket, Worker& worker, uint64_t client)
    : stream_(std::move(socket)), worker_(worker), client_(client) {
    beast::error_code ec;
    const auto ep = stream_.socket().remote_endpoint(ec);
    peer_ = ec ? "-" : ep.address().to_string();
    since_ = std::chrono::steady_clock::now();
    worker_.add(this, client_);
}

Session::~Session() {
    release();
    worker_.remove(this, client_);
}

bool Session::pending() {
    if (buffer_.size() > 0) return true;
    beast::error_code ec;
    return stream_.socket().is_open() && stream_.socket().available(ec) > 0 && !ec;
}

void Session::close_now() {
    if (closed_) return;
    closed_ = true;
    worker_.closing();
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
    stream_.socket().close(ec);
}

void Session::read(bool first) {
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    parser_->body_limit(kBodyLimit);
    enter(first ? Phase::fresh : Phase::idle);
    // Waiting for the next request of a kept-alive connection is allowed longer than reading
    // one; once a request has begun, the whole of it must arrive within the read timeout.
    stream_.expires_after(first || buffer_.size() > 0 ? worker_.read_timeout()
                                                      : worker_.idle_timeout());
    http::async_read_header(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code ec, size_t) { self->on_header(ec); });
}

// The header has arrived: its framing is checked before a byte of the body is read, so that a
// body the parser would not see as one can never be taken for the next request.
void Session::on_header(beast::error_code ec) {
    if (ec) return on_read(ec);
    if (phase_ != Phase::reading) enter(Phase::reading);
    const auto& req = parser_->get();
    const char* refusal = nullptr;
    int status = 400;
    size_t hosts = 0;
    std::string codings;
    for (const auto& f : req) {
        if (f.name() == http::field::host) ++hosts;
        if (f.name() == http::field::transfer_encoding)
            codings += (codings.empty() ? "" : ",") + std::string(f.value());
    }
    if (hosts > 1 || (hosts == 0 && req.version() >= 11)) {
        refusal = "a request needs exactly one Host header\n";
    } else if (req.find(http::field::transfer_encoding) != req.end()) {
        // Only "chunked", once, is a coding a request may have here; an HTTP/1.0 request may
        // have none. Anything else would leave the end of the body in doubt.
        std::string c;
        for (char ch : codings)
            if (ch != ' ' && ch != '\t')
                c += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (req.version() < 11) {
            refusal = "an HTTP/1.0 request cannot have a Transfer-Encoding\n";
        } else if (c != "chunked") {
            refusal = "only the chunked transfer coding is understood\n";
            status = 501;
        }
    }
    if (refusal) {
        started_ = std::chrono::steady_clock::now();
        request_line_ =
            kcommon::log_escape(std::string(req.method_string()) + " " + std::string(req.target()) +
                                (req.version() == 10 ? " HTTP/1.0" : " HTTP/1.1"));
        Response r;
        r.status = status;
        r.body = refusal;
        return respond(std::move(r), false, req.version() == 10 ? 10 : 11, false);
    }
    stream_.expires_after(worker_.read_timeout());
    http::async_read(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code ec2, size_t) { self->on_read(ec2); });
}

void Session::on_read(beast::error_code ec) {
    started_ = std::chrono::steady_clock::now();
    if (closed_ || ec == http::error::end_of_stream || ec == net::error::eof ||
        ec == beast::error::timeout || ec == net::error::operation_aborted ||
        ec == net::error::connection_reset || ec == net::error::bad_descriptor) {
        // A client too slow to send its request has had its connection closed by the
        // stream's timer; there is nobody left to answer.
        return finish();
    }
    if (ec) {
        request_line_ = "-";
        Response r;
        r.status = ec == http::error::header_limit ? 431
                   : ec == http::error::body_limit ? 413
                                                   : 400;
        r.body = r.status == 431   ? "request header fields too large\n"
                 : r.status == 413 ? "request body too large\n"
                                   : "malformed request\n";
        return respond(std::move(r), false, 11, false);
    }
    enter(Phase::answering);
    const auto& req = parser_->get();
    request_line_ =
        kcommon::log_escape(std::string(req.method_string()) + " " + std::string(req.target()) +
                            (req.version() == 10 ? " HTTP/1.0" : " HTTP/1.1"));
    Request r;
    r.method = std::string(req.method_string());
    r.target = std::string(req.target());
    if (auto h = req.find(http::field::host); h != req.end()) r.host = std::string(h->value());
    // RFC 9110 lets a list be sent as several field lines: they count as one, joined by commas.
    for (auto [h, end] = req.equal_range(http::field::if_none_match); h != end; ++h) {
        if (!r.if_none_match.empty()) r.if_none_match += ", ";
        r.if_none_match += std::string(h->value());
    }
    for (auto [h, end] = req.equal_range(http::field::accept); h != end; ++h) {
        if (!r.accept.empty()) r.accept += ", ";
        r.accept += std::string(h->value());
    }
    for (auto [h, end] = req.equal_range(http::field::accept_encoding); h != end; ++h) {
        if (!r.accept_encoding.empty()) r.accept_encoding += ", ";
        r.accept_encoding += std::string(h->value());
    }
    // The request is read once; its cost and then its answer come from what was read.
    PreparedRequest q = worker_.service().prepare(r);
    const double cost = Service::cost(q);
    // A map over the budget of one map is refused by its interface without taking a place.
    if (cost > worker_.limits().expensive_cost && cost <= worker_.service().map_budget()) {
        parked_until_ = std::chrono::steady_clock::now() + worker_.limits().expensive_wait;
        return wait_for_place(std::move(q));
    }
    answer(q, false);
}

// An expensive map: drawn once one of the places for them is free. Meanwhile the worker serves
// its other connections; the map looks again every 25 ms, until parked_until_.
void Session::wait_for_place(PreparedRequest q) {
    if (worker_.take_expensive()) return answer(q, true);
    const auto& req = parser_->get();
    if (closed_ || std::chrono::steady_clock::now() >= parked_until_) {
        if (worker_.metrics()) worker_.metrics()->maps_busy.fetch_add(1, std::memory_order_relaxed);
        Response res = kserve::answer(
            503,
            "too many large maps are being drawn now; try again shortly, or ask for a "
            "smaller one\n");
        res.cache_control = "no-store";
        res.retry_after = 2;
        return respond(std::move(res), keep_alive(req), req.version(), q.request.method == "HEAD");
    }
    if (!parked_) parked_.emplace(stream_.get_executor());
    parked_->expires_after(std::chrono::milliseconds(25));
    parked_->async_wait([self = shared_from_this(), q = std::move(q)](beast::error_code) mutable {
        self->wait_for_place(std::move(q));
    });
}

void Session::answer(const PreparedRequest& q, bool expensive) {
    Response res;
    {
        const Answering answering(stream_.socket().native_handle());
        worker_.busy(true);
        res = worker_.service().answer(q);
        worker_.busy(false);
    }
    if (expensive) worker_.leave_expensive();
    const auto& req = parser_->get();
    respond(std::move(res), keep_alive(req), req.version(), q.request.method == "HEAD");
}

// Whether the answer keeps the connection open: as the request asks, unless the worker is
// stopping; then only while another request of the client has arrived already (pipelined),
// so that it is answered too.
bool Session::keep_alive(const http::request<http::string_body>& req) {
    return req.keep_alive() && (!worker_.stopping() || pending());
}

namespace {

template <class Body>
void set_header(http::response<Body>& m, const Response& r, unsigned version, bool keep_alive) {
    m.version(version);
    m.result(static_cast<http::status>(r.status));
    m.set(http::field::server, "kserve/" KSERVE_VERSION);
    if (r.status != 304 && !r.content_type.empty())
        m.set(http::field::content_type, r.content_type);
    if (!r.etag.empty()) m.set(http::field::etag, r.etag);
    if (!r.cache_control.empty()) m.set(http::field::cache_control, r.cache_control);
    m.set(http::field::access_control_allow_origin, "*");
    if (r.retry_after > 0) m.set(http::field::retry_after, std::to_string(r.retry_after));
    for (const auto& [name, value] : r.headers) m.set(name, value);
    m.keep_alive(keep_alive);
}

}  // namespace

void Session::respond(Response r, bool keep_alive, unsigned version, bool head) {
    enter(Phase::answering);
    if (closed_) return finish();
    // The answer waits in memory until the client has taken it; a worker keeps at most
    // --answer-memory of such bytes, and puts larger answers beyond that into a temporary
    // file. With no room there either, the client is asked to come back.
    int fd = -1;
    if (!head && !worker_.hold(r.body.size())) {
        fd = worker_.spill(r.body);
        if (fd < 0) {
            if (worker_.metrics())
                worker_.metrics()->answers_refused.fetch_add(1, std::memory_order_relaxed);
            r = Response{};
            r.status = 503;
            r.body = "the server has no room for more answers now; try again shortly\n";
            r.cache_control = "no-store";
            r.retry_after = 2;
            worker_.hold(r.body.size());
            held_ = r.body.size();
        } else {
            spilled_ = r.body.size();
        }
    } else if (!head) {
        held_ = r.body.size();
    }
    const size_t bytes = r.body.size();
    const long micros = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - started_)
                            .count();
    if (worker_.metrics()) worker_.metrics()->record(r.status, micros / 1e6);
    log_line(peer_, request_line_, r.status, head ? 0 : bytes, micros);
    stream_.expires_after(worker_.limits().write);
    auto done = [self = shared_from_this(), keep_alive](beast::error_code ec, size_t) {
        self->release();
        if (ec || self->closed_) return self->finish();
        if (!keep_alive) return self->linger();
        // Kept alive even when the worker has begun to stop meanwhile: the client may send
        // its next request at once, and it is answered (with Connection: close).
        self->read(false);
    };
    if (fd >= 0) {
        file_res_ = {};
        set_header(file_res_, r, version, keep_alive);
        beast::file f;
        f.native_handle(fd);
        beast::error_code ec;
        file_res_.body().reset(std::move(f), ec);
        file_res_.prepare_payload();
        std::string().swap(r.body);
        return http::async_write(stream_, file_res_, std::move(done));
    }
    res_ = {};
    set_header(res_, r, version, keep_alive);
    res_.body() = head ? std::string() : std::move(r.body);
    res_.prepare_payload();
    if (head) res_.content_length(bytes);
    http::async_write(stream_, res_, std::move(done));
}

// Gives back the worker's room for the answer sent (or abandoned).
void Session::release() {
    if (held_ || spilled_) worker_.release(held_, spilled_);
    held_ = spilled_ = 0;
    std::string().swap(res_.body());
    beast::error_code ec;
    if (file_res_.body().is_open()) file_res_.body().file().close(ec);
}

// Half-closes the connection after an answer with Connection: close, and reads and drops what
// the client still sends until it closes too, at most 2 s: closing with unread bytes would
// reset the connection, and the reset could destroy the end of the answer before the client
// has read it.
void Session::linger() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
    if (ec) return finish();
    stream_.expires_after(std::chrono::seconds(2));
    discard();
}

// Reads and drops what arrives on a lingering connection until it ends.
void Session::discard() {
    buffer_.clear();
    stream_.async_read_some(buffer_.prepare(4096),
                            [self = shared_from_this()](beast::error_code ec, size_t) {
                                if (ec || self->closed_) return self->finish();
                                self->discard();
                            });
}

void Session::finish() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
    stream_.socket().close(ec);
}

}  // namespace kserve
