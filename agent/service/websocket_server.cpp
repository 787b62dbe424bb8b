// The only translation unit that includes Boost.Beast: it is slow to compile.
//
// Ownership follows the Beast server examples: the io_context belongs to the server object
// alone; the listener and each session are kept alive by their pending handlers; the state
// sessions share (the connection list, the running flag) owns neither. So nothing forms a
// cycle, and when the threads have ended and the io_context goes, so does every session.
#include "agent/service/websocket_server.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "agent/service/edm_helper_service.h"
#include "common/data_message.h"
#include "common/win/system_error.h"
#include "common/win/trace.h"

namespace edms {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

constexpr auto kStopBound = std::chrono::seconds(2);

// Every connection that ends for another reason than our own close leaves one line.
void fail(const beast::error_code& ec, const char* what) {
  if (ec == net::error::operation_aborted) return;
  // The system's own text for its codes (Asio's goes through the ANSI code page); Asio's and
  // Beast's own codes (end of stream, a bad frame) carry their text themselves.
  const std::string text = ec.category() == boost::system::system_category()
                               ? win::DescribeError(static_cast<DWORD>(ec.value()))
                               : ec.message();
  win::Trace(std::string(what) + " failed, connection dropped: " + ec.category().name() + " " +
             std::to_string(ec.value()) + " " + text);
}

class Session;

// What every session and every client handle shares. Owns no session and no io_context.
struct Shared {
  EdmHelperService* service = nullptr;
  ServerSettings settings;
  std::mutex mutex;  // guards the three below
  bool running = true;
  std::size_t connections = 0;
  std::vector<std::weak_ptr<Session>> sessions;
};

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket&& socket, std::shared_ptr<Shared> shared)
      : shared_(std::move(shared)),
        ws_(std::move(socket)),
        loginTimer_(ws_.get_executor()),
        idleTimer_(ws_.get_executor()) {}

  ~Session() {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    --shared_->connections;
  }

  void Run() { net::dispatch(ws_.get_executor(), beast::bind_front_handler(&Session::Start, shared_from_this())); }

  // From any thread: the text is queued on this connection's strand (at once when called on
  // it, as a reply made while handling a message is: a post costs a trip through the kernel).
  void Push(std::string text) {
    using Strand = net::strand<net::io_context::executor_type>;
    if (const Strand* strand = ws_.get_executor().target<Strand>(); strand && strand->running_in_this_thread()) {
      return QueueWrite(std::move(text));
    }
    net::post(ws_.get_executor(), [self = shared_from_this(), text = std::move(text)]() mutable {
      self->QueueWrite(std::move(text));
    });
  }

  void CloseFromAnyThread() { net::post(ws_.get_executor(), beast::bind_front_handler(&Session::Close, shared_from_this())); }

 private:
  void Start() {
    loginTimer_.expires_after(shared_->settings.loginExpiry);
    loginTimer_.async_wait([self = shared_from_this()](beast::error_code ec) {
      if (!ec && !self->client_) {
        win::Trace("no login in time: connection closed");
        self->Close();
      }
    });
    parser_.emplace();
    parser_->header_limit(16 * 1024);
    parser_->body_limit(16 * 1024);
    beast::get_lowest_layer(ws_).expires_after(std::chrono::seconds(30));
    http::async_read(beast::get_lowest_layer(ws_), buffer_, *parser_,
                     beast::bind_front_handler(&Session::OnHandshake, shared_from_this()));
  }

  void OnHandshake(beast::error_code ec, std::size_t) {
    if (ec) return Fail(ec, "handshake read");
    http::request<http::string_body> request = parser_->release();
    parser_.reset();
    std::string host(request[http::field::host]);
    std::optional<std::string> origin;
    auto it = request.find(http::field::origin);
    if (it != request.end()) origin = std::string(it->value());
    const ServerSettings& settings = shared_->settings;
    HandshakeVerdict verdict = CheckHandshake(host, origin, settings.allowedOrigins, settings.port);
    if (verdict != HandshakeVerdict::Accept) {
      win::Trace(std::string("handshake refused: ") +
                 (verdict == HandshakeVerdict::BadHost ? "Host " + host : "Origin " + origin.value_or("")));
      return Refuse(request, http::status::forbidden);
    }
    if (!websocket::is_upgrade(request)) return Refuse(request, http::status::bad_request);

    beast::get_lowest_layer(ws_).expires_never();
    // The library's idle time-out re-arms a timer for every message read; IdleCheck does it
    // without that. Its handshake and close time-outs stay.
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws_.control_callback([this](websocket::frame_type, beast::string_view) { heard_ = true; });
    ws_.read_message_max(settings.maxMessageBytes);
    ws_.async_accept(request, beast::bind_front_handler(&Session::OnAccept, shared_from_this()));
  }

  void OnAccept(beast::error_code ec) {
    if (ec) return Fail(ec, "websocket accept");
    ArmIdleCheck();
    ReadMessage();
  }

  // A page that stops answering gives its slot back. Every quarter of the idle time-out the
  // connection is looked at: after half of it without a frame from the page (a message, a ping
  // or a pong) it gets a ping, after the whole of it, it is closed. Under Wine every timer
  // re-arm is a trip through the kernel, so the timer runs at this pace instead of being reset
  // by each message.
  void ArmIdleCheck() {
    using std::chrono::milliseconds;
    idleTimer_.expires_after(std::chrono::duration_cast<milliseconds>(shared_->settings.idleTimeout) / 4);
    idleTimer_.async_wait([self = shared_from_this()](beast::error_code ec) {
      if (!ec && !self->closed_) self->IdleCheck();
    });
  }

  void IdleCheck() {
    silentChecks_ = heard_ ? 0 : silentChecks_ + 1;
    heard_ = false;
    if (silentChecks_ >= 4) {
      win::Trace("the page answers no pings: connection closed");
      return Close();
    }
    // One ping at a time: a page that reads nothing may keep the last one unsent.
    if (silentChecks_ == 2 && !pingInFlight_) {
      pingInFlight_ = true;
      ws_.async_ping({}, [self = shared_from_this()](beast::error_code) { self->pingInFlight_ = false; });
    }
    ArmIdleCheck();
  }

  void Refuse(const http::request<http::string_body>& request, http::status status) {
    auto response = std::make_shared<http::response<http::string_body>>(status, request.version());
    response->set(http::field::content_type, "text/plain");
    response->body() = std::string(http::obsolete_reason(status)) + "\n";
    response->keep_alive(false);
    response->prepare_payload();
    http::async_write(beast::get_lowest_layer(ws_), *response,
                      [self = shared_from_this(), response](beast::error_code, std::size_t) { self->Close(); });
  }

  void ReadMessage() {
    ws_.async_read(readBuffer_, beast::bind_front_handler(&Session::OnRead, shared_from_this()));
  }

  void OnRead(beast::error_code ec, std::size_t) {
    if (ec == websocket::error::closed) return Close();
    if (ec) return Fail(ec, "read");
    heard_ = true;
    if (ws_.got_text()) OnMessage(beast::buffers_to_string(readBuffer_.data()));
    readBuffer_.consume(readBuffer_.size());
    if (!closed_) ReadMessage();
  }

  void OnMessage(const std::string& text) {
    std::optional<DataMessage> message = DecodeDataMessage(text);
    if (!message) return;  // not a data message: ignored, the connection stays as it was
    if (!client_) {
      client_ = std::make_shared<Client>(message->arg1, weak_from_this(), shared_);
      loginTimer_.cancel();
      QueueWrite(EncodeDataMessage(DataMessage{LoginReply(message->arg1), ""}));
      return;
    }
    // The service only parses, checks and queues here; anything that waits runs elsewhere.
    shared_->service->HandleRequest(client_, *message);
  }

  void QueueWrite(std::string text) {
    if (closed_) return;  // the connection has gone: the reply is dropped
    if (outbox_.size() >= shared_->settings.maxQueuedReplies) {
      win::Trace("the page reads no replies: connection closed");
      return Close();
    }
    outbox_.push_back(std::move(text));
    if (outbox_.size() == 1) WriteNext();
  }

  void WriteNext() {
    ws_.text(true);
    ws_.async_write(net::buffer(outbox_.front()), beast::bind_front_handler(&Session::OnWrite, shared_from_this()));
  }

  void OnWrite(beast::error_code ec, std::size_t) {
    if (ec) return Fail(ec, "write");
    outbox_.pop_front();
    if (!outbox_.empty() && !closed_) WriteNext();
  }

  void Fail(const beast::error_code& ec, const char* what) {
    if (!closed_) fail(ec, what);
    Close();
  }

  void Close() {
    if (closed_) return;
    closed_ = true;
    loginTimer_.cancel();
    idleTimer_.cancel();
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ignored);
    beast::get_lowest_layer(ws_).close();
  }

  // The connection as the command service sees it. Commands may keep it long after the
  // connection (and even the server) has gone: it holds the session only weakly and posts to
  // it only while the server runs, so a late reply is dropped, never sent into a dead
  // io_context.
  class Client : public WebsocketClient {
   public:
    Client(std::string key, std::weak_ptr<Session> session, std::shared_ptr<Shared> shared)
        : key_(std::move(key)), session_(std::move(session)), shared_(std::move(shared)) {}
    const std::string& key() const override { return key_; }
    void PushPacket(const DataMessage& reply) override {
      try {
        std::string text = EncodeDataMessage(reply);
        // Declared before the lock: should this be the last hold on the session, it goes
        // after the lock is let go (its destructor takes the lock too).
        std::shared_ptr<Session> session;
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if (!shared_->running) return;
        session = session_.lock();
        if (session) session->Push(std::move(text));
      } catch (const std::exception& e) {
        win::Trace(std::string("reply dropped: ") + e.what());
      }
    }

   private:
    const std::string key_;
    const std::weak_ptr<Session> session_;
    const std::shared_ptr<Shared> shared_;
  };

  std::shared_ptr<Shared> shared_;
  websocket::stream<beast::tcp_stream> ws_;
  net::steady_timer loginTimer_;
  net::steady_timer idleTimer_;
  bool heard_ = false;         // a frame came from the page since the last idle check
  int silentChecks_ = 0;       // idle checks in a row that found no frame
  bool pingInFlight_ = false;  // a ping is being written
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  beast::flat_buffer readBuffer_;
  std::deque<std::string> outbox_;  // deque: the front stays put while it is written
  std::shared_ptr<Client> client_;  // set by the login message
  bool closed_ = false;
};

class Listener : public std::enable_shared_from_this<Listener> {
 public:
  Listener(net::io_context& ioc, std::shared_ptr<Shared> shared)
      : ioc_(ioc), acceptor_(net::make_strand(ioc)), shared_(std::move(shared)) {}

  // Opens, binds and listens; the system's reason on failure.
  beast::error_code Listen(const tcp::endpoint& endpoint) {
    beast::error_code ec;
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) {
      // Without this another program could bind the same port beside the agent.
      BOOL on = TRUE;
      setsockopt(acceptor_.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                 sizeof on);
      acceptor_.bind(endpoint, ec);
    }
    if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
    return ec;
  }

  uint16_t port() const {
    beast::error_code ec;
    tcp::endpoint local = acceptor_.local_endpoint(ec);
    return ec ? 0 : local.port();
  }

  void Run() { net::dispatch(acceptor_.get_executor(), beast::bind_front_handler(&Listener::Accept, shared_from_this())); }

  void Close() {
    net::post(acceptor_.get_executor(), [self = shared_from_this()] {
      beast::error_code ignored;
      self->acceptor_.close(ignored);
    });
  }

 private:
  void Accept() {
    acceptor_.async_accept(net::make_strand(ioc_), beast::bind_front_handler(&Listener::OnAccept, shared_from_this()));
  }

  void OnAccept(beast::error_code ec, tcp::socket socket) {
    if (!acceptor_.is_open()) return;
    if (ec) {
      fail(ec, "accept");
    } else if (!PeerAllowed(socket)) {
      beast::error_code ignored;
      socket.close(ignored);
    } else {
      std::shared_ptr<Session> session;
      {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if (shared_->running && shared_->connections < shared_->settings.maxConnections) {
          ++shared_->connections;
          session = std::make_shared<Session>(std::move(socket), shared_);
          auto& list = shared_->sessions;
          list.erase(std::remove_if(list.begin(), list.end(), [](const auto& w) { return w.expired(); }), list.end());
          list.push_back(session);
        }
      }
      if (session) {
        session->Run();
      } else {
        beast::error_code ignored;
        socket.close(ignored);
      }
    }
    Accept();
  }

  // One user, one agent: a process of another session or user never gets a session here.
  bool PeerAllowed(const tcp::socket& socket) {
    const auto& check = shared_->settings.checkPeer;
    if (!check) return true;
    beast::error_code ec;
    const tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec) return false;
    const PeerCheck verdict = check(peer.port(), shared_->settings.port);
    if (verdict.verdict == PeerVerdict::kAccept) {
      win::Trace("connection from " + verdict.peer + ": accepted");
      return true;
    }
    win::Trace("connection refused: " + verdict.reason + " (" + verdict.peer + ")");
    return false;
  }

  net::io_context& ioc_;
  tcp::acceptor acceptor_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace

struct WebsocketServer::Core {
  explicit Core(int threads) : ioc(threads) {}
  net::io_context ioc;
  std::optional<net::executor_work_guard<net::io_context::executor_type>> work;
  std::shared_ptr<Shared> shared;
  std::shared_ptr<Listener> listener;
  uint16_t port = 0;
  std::vector<std::thread> threads;
  std::mutex exitMutex;
  std::condition_variable exited;
  int running = 0;

  void RunThread() {
    for (;;) {
      try {
        ioc.run();
        break;
      } catch (const std::exception& e) {
        win::Trace(std::string("server thread: ") + e.what());
      } catch (...) {
        win::Trace("server thread: unknown failure");
      }
    }
    std::lock_guard<std::mutex> lock(exitMutex);
    --running;
    exited.notify_all();
  }
};

WebsocketServer::WebsocketServer() = default;

WebsocketServer::~WebsocketServer() { stop(); }

void WebsocketServer::start(EdmHelperService& service, const ServerSettings& settings) {
  if (core_) throw std::runtime_error("the server already runs");
  const int threads = settings.workerThreads > 0 ? settings.workerThreads : 1;
  auto core = std::make_unique<Core>(threads);
  core->shared = std::make_shared<Shared>();
  core->shared->service = &service;
  core->shared->settings = settings;
  core->listener = std::make_shared<Listener>(core->ioc, core->shared);
  beast::error_code ec = core->listener->Listen(tcp::endpoint(net::ip::address_v4::loopback(), settings.port));
  if (ec) {
    throw ListenError("cannot listen on 127.0.0.1:" + std::to_string(settings.port) + ": " +
                          win::DescribeError(static_cast<DWORD>(ec.value())),
                      static_cast<unsigned long>(ec.value()));
  }
  // The handshake compares the Host header with the port really bound.
  core->port = core->listener->port();
  core->shared->settings.port = core->port;
  core->work.emplace(core->ioc.get_executor());
  core->listener->Run();
  core->running = threads;
  for (int i = 0; i < threads; ++i) core->threads.emplace_back([c = core.get()] { c->RunThread(); });
  core_ = std::move(core);
  win::Trace("listening on 127.0.0.1:" + std::to_string(core_->port));
}

void WebsocketServer::stop() {
  std::unique_ptr<Core> core = std::move(core_);
  if (!core) return;
  std::vector<std::shared_ptr<Session>> live;
  {
    std::lock_guard<std::mutex> lock(core->shared->mutex);
    core->shared->running = false;
    for (auto& weak : core->shared->sessions) {
      if (auto session = weak.lock()) live.push_back(std::move(session));
    }
    core->shared->sessions.clear();
  }
  core->listener->Close();
  for (auto& session : live) session->CloseFromAnyThread();
  live.clear();
  core->listener.reset();
  core->work.reset();
  // With the acceptor and every socket closed the threads run out of work and end by
  // themselves; one held up beyond the bound is stopped instead.
  bool ended;
  {
    std::unique_lock<std::mutex> lock(core->exitMutex);
    ended = core->exited.wait_for(lock, kStopBound, [&] { return core->running == 0; });
  }
  if (!ended) {
    win::Trace("server threads still busy: stopping them");
    core->ioc.stop();
    std::unique_lock<std::mutex> lock(core->exitMutex);
    ended = core->exited.wait_for(lock, kStopBound, [&] { return core->running == 0; });
  }
  if (!ended) {
    // A handler that never returns: leave its thread and what it uses rather than hang the
    // caller (the window thread) with it.
    win::Trace("a server thread does not end: left behind");
    for (auto& thread : core->threads) thread.detach();
    core.release();
    return;
  }
  for (auto& thread : core->threads) thread.join();
}

uint16_t WebsocketServer::port() const { return core_ ? core_->port : 0; }

std::size_t WebsocketServer::connectionCount() const {
  if (!core_) return 0;
  std::lock_guard<std::mutex> lock(core_->shared->mutex);
  return core_->shared->connections;
}

}  // namespace edms
