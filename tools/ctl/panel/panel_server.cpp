#include "panel_server.h"

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <thread>

#include "ctl_error.h"
#include "http_message.h"
#include "panel_api.h"
#include "platform/system.h"

namespace vorlund {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// A browser opens about six connections to a page; the rest are refused until some close.
constexpr int kMaxConnections = 32;

void sendRefusal(tcp::socket& socket, int status, const char* reason) {
  beast::error_code ignored;
  http::write(socket, toHttpResponse(refusal(status, reason), 11, false), ignored);
}

// The meter events: one "data:" line every kMeterIntervalMs until the page goes away.
void streamMeters(tcp::socket& socket, PanelApi& api) {
  static constexpr std::string_view kHeader =
      "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
      "X-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n";
  beast::error_code error;
  asio::write(socket, asio::buffer(kHeader), error);
  while (!error) {
    const std::string event = "data: " + api.meterEvent() + "\n\n";
    asio::write(socket, asio::buffer(event), error);
    sleepMilliseconds(PanelApi::kMeterIntervalMs);
  }
}

void serveConnection(tcp::socket socket, PanelApi& api) {
  beast::flat_buffer buffer;
  for (;;) {
    http::request_parser<http::string_body> parser;
    limitParser(parser);
    beast::error_code error;
    http::read(socket, buffer, parser, error);
    if (error == http::error::end_of_stream || error == asio::error::eof ||
        error == asio::error::connection_reset)
      break;
    if (isOversize(error)) {
      sendRefusal(socket, 413, "payload too large");
      break;
    }
    if (error) {
      sendRefusal(socket, 400, "bad request: not an HTTP request");
      break;
    }
    const HttpRequest& message = parser.get();
    const PanelRequest request = toPanelRequest(message);
    PanelResponse response = api.handle(request);
    if (response.status == 200 && PanelApi::isMeterStream(request)) {
      streamMeters(socket, api);
      break;
    }
    const bool keepAlive = message.keep_alive();
    http::write(socket, toHttpResponse(response, message.version(), keepAlive), error);
    if (error || !keepAlive) break;
  }
  beast::error_code ignored;
  socket.shutdown(tcp::socket::shutdown_both, ignored);
}

}  // namespace

struct PanelServer::Listener {
  asio::io_context context;
  tcp::acceptor acceptor{context};
};

PanelServer::PanelServer(std::uint16_t port) : listener_(std::make_unique<Listener>()) {
  const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), port);
  beast::error_code error;
  tcp::acceptor& acceptor = listener_->acceptor;
  acceptor.open(endpoint.protocol(), error);
#ifndef _WIN32
  // A restarted panel takes its port back while the last one's connections linger in
  // TIME_WAIT. (Windows allows that as it is; its SO_REUSEADDR would let others share the port.)
  if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
#endif
  if (!error) acceptor.bind(endpoint, error);
  if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (error)
    throw CtlError(ExitCode::ioFailure,
                   "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + error.message());
}

PanelServer::~PanelServer() = default;

std::uint16_t PanelServer::port() const noexcept {
  beast::error_code error;
  return listener_->acceptor.local_endpoint(error).port();
}

void PanelServer::run(PanelApi& api) {
  static std::atomic<int> connections{0};
  for (;;) {
    beast::error_code error;
    tcp::socket socket(listener_->context);
    listener_->acceptor.accept(socket, error);
    if (error) {
      sleepMilliseconds(10);
      continue;
    }
    if (connections.load() >= kMaxConnections) {
      sendRefusal(socket, 503, "too many connections");
      continue;
    }
    ++connections;
    std::thread([socket = std::move(socket), &api]() mutable {
      serveConnection(std::move(socket), api);
      --connections;
    }).detach();
  }
}

}  // namespace vorlund
