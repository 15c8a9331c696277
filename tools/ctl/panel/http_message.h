// Between Boost.Beast's messages and the panel's own request and response, and the reading
// of one request within the size limits: shared by the server and the fuzz target.
#pragma once

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include "panel_request.h"

namespace vorlund {

using HttpRequest = boost::beast::http::request<boost::beast::http::string_body>;
using HttpResponse = boost::beast::http::response<boost::beast::http::string_body>;

// A parser that refuses more than kMaxHeaderBytes of header and kMaxBodyBytes of body.
inline void limitParser(
    boost::beast::http::request_parser<boost::beast::http::string_body>& parser) {
  parser.header_limit(static_cast<std::uint32_t>(kMaxHeaderBytes));
  parser.body_limit(kMaxBodyBytes);
}

// Whether a read failed for the size of the request (413) rather than its form (400).
inline bool isOversize(const boost::beast::error_code& error) {
  namespace http = boost::beast::http;
  return error == http::error::body_limit || error == http::error::header_limit ||
         error == http::error::buffer_overflow;
}

inline PanelRequest toPanelRequest(const HttpRequest& message) {
  namespace http = boost::beast::http;
  PanelRequest request;
  request.method = std::string(message.method_string());
  request.target = std::string(message.target());
  request.host = std::string(message[http::field::host]);
  if (message.find(http::field::origin) != message.end())
    request.origin = std::string(message[http::field::origin]);
  request.key =
      std::string(message[boost::beast::string_view(kKeyHeader.data(), kKeyHeader.size())]);
  request.contentType = std::string(message[http::field::content_type]);
  request.body = message.body();
  return request;
}

// The response with the headers every answer carries: no caching, no sniffing, no framing,
// the page's own sources only, and no referrer (the address holds the token). No CORS header
// is ever sent, so other sites' pages cannot read an answer.
inline HttpResponse toHttpResponse(const PanelResponse& response, unsigned version,
                                   bool keepAlive) {
  namespace http = boost::beast::http;
  HttpResponse message(static_cast<http::status>(response.status), version);
  message.set(http::field::server, "vorlund-ctl");
  message.set(http::field::content_type, response.contentType);
  message.set(http::field::cache_control, "no-store");
  message.set("X-Content-Type-Options", "nosniff");
  message.set("X-Frame-Options", "DENY");
  message.set("Referrer-Policy", "no-referrer");
  message.set(
      "Content-Security-Policy",
      "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; form-action 'none'");
  for (const auto& [name, value] : response.headers) message.set(name, value);
  message.body() = response.body;
  message.keep_alive(keepAlive);
  message.prepare_payload();
  return message;
}

}  // namespace vorlund
