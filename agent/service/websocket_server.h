// The agent's WebSocket server: 127.0.0.1 only, the handshake rules, login by the first
// data message, and every later data message handed to the command service.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "agent/service/peer_identity.h"
#include "common/ws_command.h"

namespace edms {

class EdmHelperService;

struct ServerSettings {
  uint16_t port = 23232;  // 0 picks a free port (tests); port() tells which
  std::size_t maxConnections = 100;
  // A connection that has not sent its login message by then is closed.
  std::chrono::seconds loginExpiry{600};
  // Larger messages close their connection.
  std::size_t maxMessageBytes = 64 * 1024;
  // A connection whose page does not read its replies: over this many unsent, it is closed.
  std::size_t maxQueuedReplies = 256;
  // A logged-in connection keeps its slot only while its page answers: after this long
  // without a frame from it (the server pings it at half the time), it is closed.
  std::chrono::seconds idleTimeout{300};
  // Browsers whose Origin is not in this set are refused with HTTP 403.
  std::vector<Origin> allowedOrigins;
  // Judges the process on the other end of a new connection (its port, then ours) before
  // anything is read from it; a refused one is closed at once. None: every peer is let in.
  std::function<PeerCheck(uint16_t peerPort, uint16_t localPort)> checkPeer;
  // I/O threads. Under Wine every socket operation is a trip through the kernel, and with
  // many connections one thread is the bottleneck: two served 1.5 to 2 times the requests
  // at 100 connections and answered a single one as soon. Each keeps about 1 MiB resident.
  int workerThreads = 2;
};

// The port could not be bound or listened on: `code` is the system's (WSAEADDRINUSE or
// WSAEACCES when another program holds it).
class ListenError : public std::runtime_error {
 public:
  ListenError(const std::string& what, unsigned long code) : std::runtime_error(what), code_(code) {}
  unsigned long code() const { return code_; }

 private:
  unsigned long code_;
};

class WebsocketServer {
 public:
  WebsocketServer();
  ~WebsocketServer();  // stops the server
  WebsocketServer(const WebsocketServer&) = delete;
  WebsocketServer& operator=(const WebsocketServer&) = delete;

  // Binds 127.0.0.1:settings.port and starts the I/O threads. Throws ListenError (the message
  // names the port and the system's reason) when the port cannot be bound, std::runtime_error
  // when the server already runs. `service` must outlive stop(); its HandleRequest runs on the
  // I/O threads and must not block.
  void start(EdmHelperService& service, const ServerSettings& settings);

  // Stops listening, closes every connection on its own strand and joins the I/O threads
  // once their last handler has run (a thread that does not end within two seconds is
  // stopped, not waited for forever). Replies pushed afterwards are dropped. Safe to call
  // twice.
  void stop();

  // The port listened on; 0 when not running.
  uint16_t port() const;
  // Connections accepted and not yet closed.
  std::size_t connectionCount() const;

 private:
  struct Core;
  std::unique_ptr<Core> core_;
};

}  // namespace edms
