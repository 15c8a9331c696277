// The panel's HTTP server: listens on the loopback interface only, reads each request within
// the size limits (413 beyond them, 400 for what is not HTTP), hands it to the PanelApi and
// writes the answer; the meter events go out as server-sent events until the page leaves.
// Each connection has its own thread. No connection waits on the network for long (a
// timeout closes idle and slow ones), and a cap on their number that unkeyed connections
// make room under keeps a flood from the machine without starving the page.
#pragma once

#include <cstdint>
#include <memory>

namespace vorlund {

class PanelApi;

class PanelServer {
 public:
  // Binds 127.0.0.1:`port`, a free port when 0; throws CtlError when it cannot.
  explicit PanelServer(std::uint16_t port);
  ~PanelServer();
  PanelServer(const PanelServer&) = delete;
  PanelServer& operator=(const PanelServer&) = delete;

  std::uint16_t port() const noexcept;

  // Serves until the process ends.
  [[noreturn]] void run(PanelApi& api);

 private:
  struct Listener;
  std::unique_ptr<Listener> listener_;
};

}  // namespace vorlund
