// http/beast.h: Boost.Beast and Boost.Asio as the HTTP server includes them, and the names it
// gives them.
#ifndef KSERVE_HTTP_BEAST_H
#define KSERVE_HTTP_BEAST_H

// An answer sent from a temporary file leaves in pieces of this size.
#define BOOST_BEAST_FILE_BUFFER_SIZE 65536

// Boost.Asio's C++20 parts use std::exchange without including <utility> (Boost 1.74).
// clang-format off
#include <utility>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
// clang-format on

namespace kserve {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

}  // namespace kserve

#endif
