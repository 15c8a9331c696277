#include "panel_server.h"

#include <algorithm>
#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/ctl_error.h"
#include "http_message.h"
#include "panel_api.h"
#include "platform/platform.h"
#include "platform/system.h"

namespace vorlund {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// A browser opens about six connections to a page. At the cap, a new connection makes room
// by closing the oldest one that is waiting for a request and never carried the key; when
// there is none it is refused. Unkeyed connections thus never starve the page.
constexpr std::size_t kMaxConnections = 32;
// Event streams answer keyed requests only and have a cap of their own.
constexpr int kMaxEventStreams = 8;
// Reading a request (an idle keep-alive wait included) and writing an answer each end after
// this long, so no connection is held by a client that sends or takes nothing.
constexpr std::uint64_t kIoTimeoutMs = 10000;
constexpr std::uint32_t kReaperIntervalMs = 200;

// One accepted connection, seen by its own thread and by the table that may close it.
struct Connection {
  explicit Connection(tcp::socket s) : socket(std::move(s)) {
#if VORLUND_WINDOWS
    // A blocked recv on Windows may not wake when the socket is shut down; the socket's own
    // timeouts end each call instead.
    const DWORD ms = kIoTimeoutMs;
    const char* value = reinterpret_cast<const char*>(&ms);
    setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, value, sizeof ms);
    setsockopt(socket.native_handle(), SOL_SOCKET, SO_SNDTIMEO, value, sizeof ms);
#endif
  }

  tcp::socket socket;
  // While the thread waits on the network: when to give up; 0 while it works on a request.
  std::atomic<std::uint64_t> deadline{0};
  std::atomic<bool> waitingForRequest{true};
  std::atomic<bool> keyed{false};
  std::atomic<bool> closed{false};

  // Ends every read and write under way; the connection's thread then sees an error. Safe
  // from another thread, unlike closing the socket.
  void close() noexcept {
    if (!closed.exchange(true))
      ::shutdown(socket.native_handle(), static_cast<int>(asio::socket_base::shutdown_both));
  }
  void expectWithin(std::uint64_t ms) noexcept {
    deadline = tickCount64() + ms;
  }
};

class ConnectionTable {
 public:
  // Takes `connection` in; at the cap only by closing the oldest unkeyed one that waits for a
  // request. False when there is none to close.
  bool admit(const std::shared_ptr<Connection>& connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (connections_.size() >= kMaxConnections) {
      const auto idle = std::find_if(connections_.begin(), connections_.end(), [](const auto& c) {
        return !c->keyed && c->waitingForRequest && !c->closed;
      });
      if (idle == connections_.end()) return false;
      (*idle)->close();
      connections_.erase(idle);
    }
    connections_.push_back(connection);
    return true;
  }

  void remove(const Connection* connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(connections_, [&](const auto& c) { return c.get() == connection; });
  }

  // Closes each connection whose wait on the network has lasted past its deadline.
  void closeExpired() {
    const std::uint64_t now = tickCount64();
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& connection : connections_) {
      const std::uint64_t deadline = connection->deadline;
      if (deadline != 0 && now > deadline) connection->close();
    }
  }

  bool startStream() noexcept {
    if (++streams_ <= kMaxEventStreams) return true;
    --streams_;
    return false;
  }
  void endStream() noexcept { --streams_; }

 private:
  std::mutex mutex_;
  std::vector<std::shared_ptr<Connection>> connections_;  // oldest first
  std::atomic<int> streams_{0};
};

void sendRefusal(Connection& connection, int status, const char* reason) {
  beast::error_code ignored;
  connection.expectWithin(kIoTimeoutMs);
  http::write(connection.socket, toHttpResponse(refusal(status, reason), 11, false), ignored);
}

// The meter events: one "data:" line every kMeterIntervalMs until the page goes away.
void streamMeters(Connection& connection, PanelApi& api) {
  static constexpr std::string_view kHeader =
      "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
      "X-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n";
  beast::error_code error;
  connection.expectWithin(kIoTimeoutMs);
  asio::write(connection.socket, asio::buffer(kHeader), error);
  while (!error) {
    const std::string event = "data: " + api.meterEvent() + "\n\n";
    connection.expectWithin(kIoTimeoutMs);
    asio::write(connection.socket, asio::buffer(event), error);
    connection.deadline = 0;
    sleepMilliseconds(PanelApi::kMeterIntervalMs);
  }
}

void serveConnection(Connection& connection, ConnectionTable& table, PanelApi& api) {
  beast::flat_buffer buffer;
  for (;;) {
    http::request_parser<http::string_body> parser;
    limitParser(parser);
    beast::error_code error;
    connection.waitingForRequest = true;
    connection.expectWithin(kIoTimeoutMs);
    http::read(connection.socket, buffer, parser, error);
    connection.waitingForRequest = false;
    connection.deadline = 0;
    if (connection.closed || error == http::error::end_of_stream || error == asio::error::eof ||
        error == asio::error::connection_reset || error == asio::error::timed_out)
      break;
    if (isOversize(error)) {
      sendRefusal(connection, 413, "payload too large");
      break;
    }
    if (error) {
      sendRefusal(connection, 400, "bad request: not an HTTP request");
      break;
    }
    const HttpRequest& message = parser.get();
    const PanelRequest request = toPanelRequest(message);
    if (carriesKey(request, api.identity())) connection.keyed = true;
    PanelResponse response = api.handle(request);
    if (response.status == 200 && PanelApi::isMeterStream(request)) {
      if (!table.startStream()) {
        sendRefusal(connection, 503, "too many event streams");
        break;
      }
      streamMeters(connection, api);
      table.endStream();
      break;
    }
    const bool keepAlive = message.keep_alive();
    connection.expectWithin(kIoTimeoutMs);
    http::write(connection.socket, toHttpResponse(response, message.version(), keepAlive), error);
    if (error || !keepAlive) break;
  }
  beast::error_code ignored;
  connection.closed = true;
  connection.socket.shutdown(tcp::socket::shutdown_both, ignored);
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
  // So that a restarted panel gets its port back while the last one's connections linger in
  // TIME_WAIT; on Windows the option would let another program take the port over.
  if (!error && !VORLUND_WINDOWS) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
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
  static ConnectionTable table;
  std::thread([] {
    for (;;) {
      sleepMilliseconds(kReaperIntervalMs);
      table.closeExpired();
    }
  }).detach();
  for (;;) {
    beast::error_code error;
    tcp::socket socket(listener_->context);
    listener_->acceptor.accept(socket, error);
    if (error) {
      sleepMilliseconds(10);
      continue;
    }
    auto connection = std::make_shared<Connection>(std::move(socket));
    if (!table.admit(connection)) {
      sendRefusal(*connection, 503, "too many connections");
      continue;
    }
    std::thread([connection, &api] {
      serveConnection(*connection, table, api);
      table.remove(connection.get());
    }).detach();
  }
}

}  // namespace vorlund
