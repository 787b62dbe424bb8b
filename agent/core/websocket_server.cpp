// The only translation unit that includes Boost.Beast: it is slow to compile.
#include "agent/core/websocket_server.h"

#include <boost/asio/dispatch.hpp>
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
#include <atomic>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "agent/core/data_message.h"
#include "agent/core/edm_helper_service.h"
#include "agent/core/trace.h"
#include "common/win/text.h"

namespace edms {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

// The system's own text for an error code, in UTF-8 (Asio's message() goes through the
// ANSI code page).
std::string SystemMessage(const beast::error_code& ec) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, static_cast<DWORD>(ec.value()), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length && buffer ? std::wstring(buffer, length) : std::wstring();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
  if (text.empty()) return "error " + std::to_string(ec.value());
  return win::Narrow(text);
}

class Session;

struct ServerState : std::enable_shared_from_this<ServerState> {
  net::io_context ioc;
  tcp::acceptor acceptor{ioc};
  EdmHelperService* service = nullptr;
  ServerSettings settings;
  std::atomic<std::size_t> connections{0};
  std::atomic<bool> stopping{false};
  std::mutex sessionsMutex;
  std::vector<std::weak_ptr<Session>> sessions;
  std::vector<std::thread> threads;

  void Accept();
  void Run();
};

class Session : public WebsocketClient, public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket socket, std::shared_ptr<ServerState> state)
      : state_(std::move(state)), ws_(std::move(socket)), loginTimer_(ws_.get_executor()) {}

  void Run() {
    net::dispatch(ws_.get_executor(), [self = shared_from_this()] { self->Start(); });
  }

  const std::string& key() const override { return key_; }

  void PushPacket(const DataMessage& reply) override {
    if (state_->stopping) return;
    try {
      std::string text = EncodeDataMessage(reply);
      net::post(ws_.get_executor(),
                [self = shared_from_this(), text = std::move(text)]() mutable { self->QueueWrite(std::move(text)); });
    } catch (const std::exception& e) {
      Trace(std::string("reply dropped: ") + e.what());
    }
  }

  void CloseFromAnyThread() {
    net::post(ws_.get_executor(), [self = shared_from_this()] { self->Close(); });
  }

 private:
  void Start() {
    loginTimer_.expires_after(state_->settings.loginExpiry);
    loginTimer_.async_wait([self = shared_from_this()](beast::error_code ec) {
      if (!ec && !self->loggedIn_) self->Close();
    });
    parser_.emplace();
    parser_->header_limit(16 * 1024);
    parser_->body_limit(16 * 1024);
    beast::get_lowest_layer(ws_).expires_after(std::chrono::seconds(30));
    http::async_read(beast::get_lowest_layer(ws_), buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnHandshake(ec); });
  }

  void OnHandshake(beast::error_code ec) {
    if (ec) return Close();
    http::request<http::string_body> request = parser_->release();
    parser_.reset();
    std::string host(request[http::field::host]);
    std::optional<std::string> origin;
    auto it = request.find(http::field::origin);
    if (it != request.end()) origin = std::string(it->value());
    const ServerSettings& settings = state_->settings;
    HandshakeVerdict verdict = CheckHandshake(host, origin, settings.allowedOrigins, settings.port);
    if (verdict != HandshakeVerdict::Accept) {
      Trace(std::string("handshake refused: ") +
            (verdict == HandshakeVerdict::BadHost ? "Host " + host : "Origin " + origin.value_or("")));
      return Refuse(request, http::status::forbidden);
    }
    if (!websocket::is_upgrade(request)) return Refuse(request, http::status::bad_request);

    beast::get_lowest_layer(ws_).expires_never();
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws_.read_message_max(settings.maxMessageBytes);
    ws_.async_accept(request, [self = shared_from_this()](beast::error_code ec) {
      if (ec) return self->Close();
      self->ReadMessage();
    });
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
    ws_.async_read(readBuffer_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec) return self->Close();
      if (self->ws_.got_text()) self->OnMessage(beast::buffers_to_string(self->readBuffer_.data()));
      self->readBuffer_.consume(self->readBuffer_.size());
      if (!self->closed_) self->ReadMessage();
    });
  }

  void OnMessage(const std::string& text) {
    std::optional<DataMessage> message = DecodeDataMessage(text);
    if (!message) return;  // not a data message: ignored, the connection stays as it was
    if (!loggedIn_) {
      key_ = message->arg1;
      loggedIn_ = true;
      loginTimer_.cancel();
      QueueWrite(EncodeDataMessage(DataMessage{LoginReply(key_), ""}));
      return;
    }
    // Runs on this connection's strand: the next message of the same page waits for it.
    state_->service->HandleRequest(shared_from_this(), *message);
  }

  void QueueWrite(std::string text) {
    if (closed_) return;  // the connection has gone: the reply is dropped
    outbox_.push_back(std::move(text));
    if (outbox_.size() == 1) WriteNext();
  }

  void WriteNext() {
    ws_.text(true);
    ws_.async_write(net::buffer(outbox_.front()), [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec) return self->Close();
      self->outbox_.pop_front();
      if (!self->outbox_.empty() && !self->closed_) self->WriteNext();
    });
  }

  void Close() {
    if (closed_) return;
    closed_ = true;
    loginTimer_.cancel();
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ignored);
    beast::get_lowest_layer(ws_).close();
    --state_->connections;
  }

  // Declared first so that the io_context outlives the socket and the timer.
  std::shared_ptr<ServerState> state_;
  websocket::stream<beast::tcp_stream> ws_;
  net::steady_timer loginTimer_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  beast::flat_buffer readBuffer_;
  std::deque<std::string> outbox_;  // deque: the front stays put while it is written
  std::string key_;
  bool loggedIn_ = false;
  bool closed_ = false;
};

void ServerState::Accept() {
  acceptor.async_accept(net::make_strand(ioc), [self = shared_from_this()](beast::error_code ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted || !self->acceptor.is_open()) return;
    if (!ec) {
      std::lock_guard<std::mutex> lock(self->sessionsMutex);
      if (self->stopping || self->connections >= self->settings.maxConnections) {
        beast::error_code ignored;
        socket.close(ignored);
      } else {
        ++self->connections;
        auto session = std::make_shared<Session>(std::move(socket), self);
        if (self->sessions.size() >= 2 * self->settings.maxConnections + 16) {
          auto& list = self->sessions;
          list.erase(std::remove_if(list.begin(), list.end(), [](const std::weak_ptr<Session>& w) { return w.expired(); }),
                     list.end());
        }
        self->sessions.push_back(session);
        session->Run();
      }
    }
    self->Accept();
  });
}

void ServerState::Run() {
  for (;;) {
    try {
      ioc.run();
      return;
    } catch (const std::exception& e) {
      Trace(std::string("server worker: ") + e.what());
    } catch (...) {
      Trace("server worker: unknown failure");
    }
  }
}

}  // namespace

struct WebsocketServer::Core : ServerState {};

WebsocketServer::WebsocketServer() = default;

WebsocketServer::~WebsocketServer() { stop(); }

void WebsocketServer::start(EdmHelperService& service, const ServerSettings& settings) {
  if (core_) throw std::runtime_error("the server already runs");
  auto core = std::make_shared<Core>();
  core->service = &service;
  core->settings = settings;
  tcp::endpoint endpoint(net::ip::address_v4::loopback(), settings.port);
  beast::error_code ec;
  core->acceptor.open(endpoint.protocol(), ec);
  if (!ec) {
    // Without this another program could bind the same port beside the agent.
    BOOL on = TRUE;
    setsockopt(core->acceptor.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
    core->acceptor.bind(endpoint, ec);
  }
  if (!ec) core->acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(settings.port) + ": " +
                             SystemMessage(ec));
  }
  core->Accept();
  int threads = settings.workerThreads > 0 ? settings.workerThreads : 1;
  for (int i = 0; i < threads; ++i) core->threads.emplace_back([state = core.get()] { state->Run(); });
  core_ = std::move(core);
  Trace("listening on 127.0.0.1:" + std::to_string(settings.port));
}

void WebsocketServer::stop() {
  std::shared_ptr<Core> core = std::move(core_);
  if (!core) return;
  std::vector<std::shared_ptr<Session>> live;
  {
    std::lock_guard<std::mutex> lock(core->sessionsMutex);
    core->stopping = true;
    for (auto& weak : core->sessions) {
      if (auto session = weak.lock()) live.push_back(std::move(session));
    }
    core->sessions.clear();
  }
  net::post(core->ioc, [state = core.get()] {
    beast::error_code ignored;
    state->acceptor.close(ignored);
  });
  for (auto& session : live) session->CloseFromAnyThread();
  live.clear();
  // Let the closed connections finish their handlers; a command still busy on a worker
  // thread is not waited for beyond this.
  for (int i = 0; i < 200 && !core->ioc.stopped(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  core->ioc.stop();
  for (auto& thread : core->threads) thread.join();
  core->threads.clear();
}

std::size_t WebsocketServer::connectionCount() const { return core_ ? core_->connections.load() : 0; }

}  // namespace edms
