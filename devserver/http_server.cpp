#include "devserver/http_server.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "common/encoding.h"
#include "common/url.h"
#include "devserver/admin.h"
#include "devserver/channel.h"
#include "devserver/commands.h"
#include "devserver/documents_json.h"
#include "devserver/json_reply.h"
#include "devserver/pages.h"
#include "devserver/reply_codes.h"

namespace devserver {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;

std::mutex logMutex;

void LogLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(logMutex);
  std::fprintf(stderr, "%s %s\n", Store::NowUtc().c_str(), line.c_str());
}

struct Refusal {
  int status;
  std::string reason;
};

// Why the admin API refuses a request with this head, or nothing. A loopback Host on this
// server's port defeats DNS rebinding; a loopback Origin only keeps other sites' pages out;
// a body must be JSON, which no plain form can send.
std::optional<Refusal> AdminHeadRefusal(const http::request_parser<http::empty_body>& head,
                                            unsigned short localPort) {
  const auto& req = head.get();
  const std::optional<edms::Authority> host = edms::ParseAuthority(req[http::field::host]);
  if (!host || !edms::IsLoopbackAuthority(*host) || (host->port == 0 ? localPort != 80 : host->port != localPort)) {
    return Refusal{403, "The admin API answers requests for 127.0.0.1:" + std::to_string(localPort) +
                            " or localhost only."};
  }
  if (req.find(http::field::origin) != req.end()) {
    const std::string_view origin = req[http::field::origin];
    const std::optional<edms::Origin> parsed = edms::ParseOrigin(origin);
    if (!parsed || !edms::IsLoopbackOrigin(*parsed)) {
      return Refusal{403, "The admin API refuses calls from pages of other sites (Origin " + std::string(origin) + ")."};
    }
  }
  bool hasBody = head.chunked() || head.content_length().value_or(0) > 0;
  std::string_view type = req[http::field::content_type];
  type = type.substr(0, type.find(';'));
  while (!type.empty() && type.back() == ' ') type.remove_suffix(1);
  if ((hasBody || !type.empty()) && !beast::iequals(type, "application/json")) {
    return Refusal{415, "The admin API takes JSON bodies only (Content-Type: application/json)."};
  }
  return std::nullopt;
}

HttpReply AdaptorRefusal(int status, const char* code, const std::string& message) {
  HttpReply r;
  r.status = status;
  r.headers.emplace_back("Content-Type", "text/plain; charset=utf-8");
  r.headers.emplace_back("XRS_RTNCODE", code);
  r.headers.emplace_back("XRS_CODEDESC", edms::HexEncodeUtf8(message));
  r.body = message + "\n";
  return r;
}

HttpReply ToHttp(AdaptorReply&& a) {
  HttpReply r;
  r.headers.emplace_back("Content-Type", a.file.valid() ? "application/octet-stream" : "text/plain; charset=utf-8");
  r.headers.emplace_back("XRS_RTNCODE", a.code);
  r.headers.emplace_back("XRS_CODEDESC", edms::HexEncodeUtf8(a.desc));
  if (a.fileSize) r.headers.emplace_back("XRS_FILESIZE", *a.fileSize);
  if (a.file.valid()) {
    r.file = std::move(a.file);
    r.fileSize = a.size;
  }
  return r;
}

void ApplyFault(const Fault& fault, HttpReply& r) {
  switch (fault.mode) {
    case FaultMode::ShortBody:
      if (r.file.valid()) r.sendOnly = fault.bytes.value_or(r.fileSize / 2);
      break;
    case FaultMode::CloseEarly:
      if (r.file.valid()) {
        r.sendOnly = fault.bytes.value_or(r.fileSize / 2);
        r.cutConnection = true;
      } else {
        r.dropWithoutReply = true;
      }
      break;
    case FaultMode::BigHeaders:
      r.headers.insert(r.headers.begin(), {"XRS_PADDING", std::string(fault.bytes.value_or(8192), 'x')});
      break;
    case FaultMode::Hold:
      r.holdTicket = fault.holdTicket;
      r.holdFor = std::chrono::milliseconds(fault.delayMs > 0 ? fault.delayMs : 120000);
      r.holdPiece = std::max<uint64_t>(fault.bytes.value_or(1), 1);
      break;
    case FaultMode::Refuse:
    case FaultMode::Delay:
      break;
  }
}

class Connection {
 public:
  Connection(ServerContext& ctx, tcp::socket socket, ssl::context* tls)
      : ctx_(ctx), channel_(std::move(socket), tls, ctx.idleTimeoutMs, ctx.requestTimeoutMs) {}

  void Run() {
    beast::error_code ec;
    channel_.socket().set_option(tcp::no_delay(true), ec);
    try {
      if (!channel_.Handshake(ec)) {
        // A client that does not trust the certificate ends here, with its alert as the reason.
        if (channel_.PeerSpoke()) Log("TLS handshake failed: " + ec.message());
      } else {
        while (HandleOne()) {
        }
      }
    } catch (const std::exception& e) {
      Log(std::string("connection dropped: ") + e.what());
    }
    channel_.Close(cut_);
  }

 private:
  // False when the connection is to be closed.
  bool HandleOne() {
    http::request_parser<http::empty_body> head;
    head.header_limit(kHeaderLimit);
    head.body_limit(std::numeric_limits<std::uint64_t>::max());  // each route sets its own limit once it knows the body's kind
    // Only where no byte of a request has arrived yet may the peer stay silent as long as an
    // idle kept-alive connection.
    channel_.AwaitRequest(buffer_.size() == 0);
    beast::error_code ec;
    http::read_header(channel_, buffer_, head, ec);
    if (ec == http::error::end_of_stream || ec == asio::error::eof || ec == asio::error::connection_reset ||
        ec == ssl::error::stream_truncated) {
      return false;
    }
    if (ec == asio::error::timed_out) return channel_.IdleExpired() ? false : Dropped("headers");
    if (ec == http::error::header_limit) {
      HttpReply r = AdaptorRefusal(431, code::kHeadersTooLarge, "The request headers are larger than 32 KiB.");
      r.close = true;
      Write(r, false);
      return false;
    }
    if (ec) {
      HttpReply r = AdaptorRefusal(400, code::kBadRequest, "Malformed HTTP request: " + ec.message());
      r.close = true;
      Write(r, false);
      return false;
    }
    const auto& req = head.get();
    std::string target(req.target());
    size_t qmark = target.find('?');
    std::string path = target.substr(0, qmark);
    std::string query = qmark == std::string::npos ? std::string() : target.substr(qmark + 1);
    bool keepAlive = req.keep_alive();
    std::string method(req.method_string());

    if (path == ctx_.adaptorPath) {
      if (method != "POST") return Refuse(head, 405, code::kWrongRoute, "The adaptor takes POST requests only.");
      if (req.find("XRQ_COMMAND") != req.end()) return Upload(std::move(head), keepAlive);
      return Form(std::move(head), keepAlive);
    }
    if (path.rfind("/_admin/", 0) == 0) return Admin(std::move(head), method, path, query, keepAlive);
    if (method != "GET") return Refuse(head, 405, code::kWrongRoute, "Method " + method + " is not allowed here.");
    HttpReply r;
    if (path == "/api/documents") {
      r = DocumentListReply(*ctx_.store);
    } else if (path == "/notice") {
      r = NoticePage(*ctx_.store, edms::ParseFormFields(query));
    } else if (path == "/notice/close") {
      r = NoticeClosedPage();
    } else {
      r = StaticFile(ctx_.webDir, path);
    }
    r.close = !head.is_done();  // a GET with a body we did not read
    return Write(r, keepAlive);
  }

  bool Refuse(const http::request_parser<http::empty_body>& head, int status, const char* code,
              const std::string& message) {
    HttpReply r = AdaptorRefusal(status, code, message);
    r.close = !head.is_done();
    Log(std::string(head.get().method_string()) + " " + std::string(head.get().target()) + " -> " + code);
    return Write(r, head.get().keep_alive());
  }

  void Continue(const http::request_parser<http::empty_body>& head) {
    auto expect = head.get().find(http::field::expect);
    if (expect != head.get().end() && beast::iequals(expect->value(), "100-continue")) {
      static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
      channel_.SendAll(kContinue, sizeof kContinue - 1);
    }
  }

  // The whole body of a form or admin call; nullopt when the connection must close (a body
  // over the limit has been refused, or the peer broke off).
  std::optional<std::string> SmallBody(http::request_parser<http::empty_body>&& head, uint64_t limit = kFormBodyLimit) {
    beast::error_code ec;
    if (head.content_length().value_or(0) <= limit) {
      Continue(head);
      http::request_parser<http::string_body> parser(std::move(head));
      parser.body_limit(limit);
      if (!parser.is_done()) http::read(channel_, buffer_, parser, ec);
      if (!ec) return parser.release().body();
      if (ec == asio::error::timed_out) Dropped("body");
      if (ec != http::error::body_limit) return std::nullopt;
    }
    HttpReply r = AdaptorRefusal(413, code::kBodyTooLarge, "The request body is too large.");
    r.close = true;
    Write(r, false);
    return std::nullopt;
  }

  bool Form(http::request_parser<http::empty_body>&& head, bool keepAlive) {
    std::optional<std::string> body = SmallBody(std::move(head));
    if (!body) return false;
    ParseOutcome parsed = ParseFormRequest(*body);
    if (!parsed.ok) return WriteRefusal(parsed, keepAlive);
    return Dispatch(parsed.request, keepAlive);
  }

  // The body goes straight to a file in the data folder's tmp/, whatever the headers
  // say, so that even a refused upload is read to its end and the client gets its reply.
  bool Upload(http::request_parser<http::empty_body>&& head, bool keepAlive) {
    std::vector<std::pair<std::string, std::string>> fields;
    for (const auto& f : head.get()) fields.emplace_back(std::string(f.name_string()), std::string(f.value()));
    ParseOutcome parsed = ParseUploadRequest(fields);
    if (head.content_length().value_or(0) > ctx_.maxUploadBytes) return UploadTooLarge();
    Continue(head);
    std::string temp = ctx_.store->NewTempPath();
    http::request_parser<http::file_body> parser(std::move(head));
    parser.body_limit(ctx_.maxUploadBytes);
    beast::error_code ec;
    parser.get().body().open(temp.c_str(), beast::file_mode::write, ec);
    if (ec) {
      HttpReply r = AdaptorRefusal(200, code::kInternal, "The upload cannot be stored: " + ec.message());
      r.close = true;
      return Write(r, false);
    }
    if (!parser.is_done()) http::read(channel_, buffer_, parser, ec);
    beast::error_code closed;
    parser.get().body().file().close(closed);
    struct stat st;
    uint64_t size = ::stat(temp.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
    if (!parser.is_done()) {  // over the limit, the client went away or stopped, or sent garbage
      ::unlink(temp.c_str());
      if (ec == http::error::body_limit) return UploadTooLarge();
      if (ec == asio::error::timed_out) Dropped("upload");
      return false;
    }
    HttpReply reply;
    if (!parsed.ok) {
      reply = RefusalReply(parsed);
    } else {
      parsed.request.uploadPath = temp;
      parsed.request.uploadSize = size;
      reply = Answer(parsed.request);
    }
    ::unlink(temp.c_str());  // already moved into the store when the check-in succeeded
    return Write(reply, keepAlive);
  }

  // The body is not read: the connection closes after the refusal.
  bool UploadTooLarge() {
    HttpReply r = AdaptorRefusal(413, code::kBodyTooLarge, "The upload is larger than " +
                                                             std::to_string(ctx_.maxUploadBytes) + " bytes.");
    r.close = true;
    Write(r, false);
    return false;
  }

  // A peer that went silent mid-request: logged, and the connection is closed.
  bool Dropped(const char* where) {
    Log(std::string("peer silent for ") + std::to_string(ctx_.requestTimeoutMs) + " ms in the request " + where +
        "; connection dropped");
    return false;
  }

  bool WriteRefusal(const ParseOutcome& parsed, bool keepAlive) {
    HttpReply r = RefusalReply(parsed);
    return Write(r, keepAlive);
  }

  HttpReply RefusalReply(const ParseOutcome& parsed) {
    Log("request refused -> " + parsed.code + " " + parsed.message);
    return AdaptorRefusal(200, parsed.code.c_str(), parsed.message);
  }

  bool Dispatch(const AdaptorRequest& request, bool keepAlive) {
    HttpReply r = Answer(request);
    return Write(r, keepAlive);
  }

  // Runs the command, or what an injected fault puts in its place.
  HttpReply Answer(const AdaptorRequest& request) {
    ctx_.faults.Record(request);
    std::optional<Fault> fault = ctx_.faults.Take(request);
    if (fault && fault->mode == FaultMode::Delay) {
      std::this_thread::sleep_for(std::chrono::milliseconds(fault->delayMs));
    }
    AdaptorReply reply;
    if (fault && fault->mode == FaultMode::Refuse) {
      reply.code = fault->code;
      reply.desc = fault->message;
      // Any answer a server could give: a CHECKUPDATE that offers an older version, say (its
      // XRS_FILESIZE is hex-encoded text).
      if (fault->bytes) reply.fileSize = edms::HexEncodeUtf8(std::to_string(*fault->bytes));
    } else {
      reply = RunCommand(*ctx_.store, request);
    }
    Log(std::string(request.format->name) + " " + request.Field("XRQ_OBJECT") + " " + request.Field("XRQ_USER") +
        " -> " + reply.code + (reply.code == code::kOk ? "" : " " + reply.desc) + (fault ? " (injected)" : ""));
    HttpReply r = ToHttp(std::move(reply));
    if (fault) ApplyFault(*fault, r);
    return r;
  }

  bool Admin(http::request_parser<http::empty_body>&& head, const std::string& method, const std::string& path,
             const std::string& query, bool keepAlive) {
    beast::error_code ec;
    auto remote = channel_.socket().remote_endpoint(ec);
    if (ec || !remote.address().is_loopback()) {
      HttpReply r = AdaptorRefusal(403, code::kWrongRoute, "The admin API answers loopback callers only.");
      r.close = true;
      return Write(r, false);
    }
    auto local = channel_.socket().local_endpoint(ec);
    if (std::optional<Refusal> refusal = AdminHeadRefusal(head, ec ? 0 : local.port())) {
      HttpReply r = JsonReply(refusal->status, {{"error", refusal->reason}});
      r.close = true;  // the body, if any, is not read
      Log(method + " " + path + " refused: " + refusal->reason);
      return Write(r, false);
    }
    std::optional<std::string> body = SmallBody(std::move(head), kAdminBodyLimit);
    if (!body) return false;
    HttpReply r = HandleAdmin(ctx_, method, path, query, *body);
    return Write(r, keepAlive);
  }

  // False when the connection must close afterwards.
  bool Write(HttpReply& r, bool keepAlive) {
    cut_ = r.dropWithoutReply || r.cutConnection;
    if (r.dropWithoutReply) return false;
    uint64_t full = r.BodySize();
    uint64_t send = r.sendOnly && *r.sendOnly < full ? *r.sendOnly : full;
    bool close = r.close || !keepAlive || r.cutConnection;
    std::string head = "HTTP/1.1 " + std::to_string(r.status) + " " + std::string(http::obsolete_reason(static_cast<http::status>(r.status))) + "\r\n";
    for (const auto& [name, value] : r.headers) head += name + ": " + value + "\r\n";
    head += "Content-Length: " + std::to_string(r.cutConnection ? full : send) + "\r\n";
    head += close ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
    bool ok = channel_.SendAll(head.data(), head.size());
    uint64_t sent = 0;
    if (ok && r.holdTicket) ok = SendHeld(r, send, &sent);
    if (ok) ok = SendBody(r, sent, send - sent);
    return ok && !close;
  }

  bool SendBody(const HttpReply& r, uint64_t offset, uint64_t count) {
    if (count == 0) return true;
    if (r.file.valid()) return channel_.SendFile(r.file.get(), offset, count);
    return channel_.SendAll(r.body.data() + offset, size_t(count));
  }

  // A piece a second keeps the client's receive time-out from firing (and a client that reads
  // in blocks of the piece's size busy) while a test looks at the client's window; the last
  // byte waits for the release so that the reply cannot end early.
  bool SendHeld(const HttpReply& r, uint64_t total, uint64_t* sent) {
    auto until = std::chrono::steady_clock::now() + r.holdFor;
    while (std::chrono::steady_clock::now() < until) {
      if (*sent + 1 < total) {
        uint64_t piece = std::min(r.holdPiece, total - 1 - *sent);
        if (!SendBody(r, *sent, piece)) return false;
        *sent += piece;
      }
      if (ctx_.faults.WaitReleased(*r.holdTicket, std::chrono::seconds(1))) break;
    }
    return true;
  }

  void Log(const std::string& line) {
    if (!ctx_.quiet) LogLine(line);
  }

  ServerContext& ctx_;
  Channel channel_;
  beast::flat_buffer buffer_;
  bool cut_ = false;  // the last reply was cut short on purpose: no orderly close
};

std::string ServiceUnavailable(const std::string& why) {
  std::string body = why + "\n";
  return "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\n"
         "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// Over TLS a connection is told it will not be served only after a handshake, which waits on
// the peer: it runs on the accepting thread's event loop, bounded in time and in number, so
// that neither a full server nor one out of threads needs a thread for it. Once the reply is
// out the peer's request is read and dropped until it closes: closing on unread bytes would
// reset the connection, and the peer could lose the reply.
class TlsTurnAway : public std::enable_shared_from_this<TlsTurnAway> {
 public:
  static constexpr int kMaxPending = 64;

  TlsTurnAway(tcp::socket socket, ssl::context& tls, std::string reply, std::shared_ptr<std::atomic<int>> pending)
      : stream_(std::move(socket), tls), timer_(stream_.get_executor()), reply_(std::move(reply)),
        pending_(std::move(pending)) {
    ++*pending_;
  }
  ~TlsTurnAway() { --*pending_; }

  void Start() {
    timer_.expires_after(std::chrono::seconds(5));
    timer_.async_wait([self = shared_from_this()](beast::error_code ec) {
      if (ec != asio::error::operation_aborted) self->Finish();
    });
    stream_.async_handshake(ssl::stream_base::server, [self = shared_from_this()](beast::error_code ec) {
      if (ec) return self->Finish();
      asio::async_write(self->stream_, asio::buffer(self->reply_), [self](beast::error_code ec, size_t) {
        if (ec) return self->Finish();
        beast::error_code ignored;
        self->stream_.next_layer().shutdown(tcp::socket::shutdown_send, ignored);
        self->Drain();
      });
    });
  }

 private:
  void Drain() {
    stream_.next_layer().async_read_some(asio::buffer(drop_), [self = shared_from_this()](beast::error_code ec, size_t) {
      if (ec) return self->Finish();
      self->Drain();
    });
  }

  void Finish() {
    timer_.cancel();
    beast::error_code ignored;
    stream_.next_layer().close(ignored);
  }

  ssl::stream<tcp::socket> stream_;
  asio::steady_timer timer_;
  std::string reply_;
  std::shared_ptr<std::atomic<int>> pending_;
  char drop_[4096];
};

// Accepts connections on the calling thread's event loop and gives each a thread of its own.
class Listener {
 public:
  Listener(ServerContext& ctx, tcp::acceptor& acceptor, ssl::context* tls)
      : ctx_(ctx), acceptor_(acceptor), tls_(tls), retry_(acceptor.get_executor()) {}

  void Accept() {
    acceptor_.async_accept([this](beast::error_code ec, tcp::socket socket) {
      if (ec) {
        // Out of descriptors, for instance: wait for connections to end rather than spin.
        retry_.expires_after(std::chrono::milliseconds(50));
        retry_.async_wait([this](beast::error_code) { Accept(); });
        return;
      }
      Admit(std::move(socket));
      Accept();
    });
  }

 private:
  void Admit(tcp::socket socket) {
    if (active_->load() >= ctx_.maxConnections) {
      if (!ctx_.quiet) LogLine("connection refused: " + std::to_string(ctx_.maxConnections) + " are being served");
      TurnAway(std::move(socket), "The server is serving " + std::to_string(ctx_.maxConnections) +
                                      " connections already; try again later.");
      return;
    }
    ++*active_;
    auto owned = std::make_shared<tcp::socket>(std::move(socket));
    try {
      std::thread([&ctx = ctx_, tls = tls_, active = active_, owned]() {
        struct Leave {
          std::atomic<int>& count;
          ~Leave() { --count; }
        } leave{*active};
        Connection(ctx, std::move(*owned), tls).Run();
      }).detach();
    } catch (const std::exception& e) {  // no thread to be had: this connection only is turned away
      --*active_;
      LogLine(std::string("cannot start a thread for a connection: ") + e.what());
      TurnAway(std::move(*owned), "The server cannot take this connection now; try again later.");
    }
  }

  // Answers a connection that will not be served and closes it, never waiting on the peer here.
  void TurnAway(tcp::socket socket, const std::string& why) {
    std::string reply = ServiceUnavailable(why);
    beast::error_code ec;
    if (tls_ && turningAway_->load() < TlsTurnAway::kMaxPending) {
      std::make_shared<TlsTurnAway>(std::move(socket), *tls_, std::move(reply), turningAway_)->Start();
      return;
    }
    if (!tls_) (void)::send(socket.native_handle(), reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    socket.shutdown(tcp::socket::shutdown_both, ec);
    socket.close(ec);
  }

  ServerContext& ctx_;
  tcp::acceptor& acceptor_;
  ssl::context* tls_;
  asio::steady_timer retry_;
  // Connections being served; each has a thread of its own.
  std::shared_ptr<std::atomic<int>> active_ = std::make_shared<std::atomic<int>>(0);
  std::shared_ptr<std::atomic<int>> turningAway_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace

int Serve(ServerContext& ctx, const std::string& host, uint16_t port, ssl::context* tls) {
  asio::io_context io;
  tcp::acceptor acceptor(io);
  try {
    tcp::endpoint endpoint(asio::ip::make_address(host), port);
    acceptor.open(endpoint.protocol());
    acceptor.set_option(asio::socket_base::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen(asio::socket_base::max_listen_connections);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "devserver: cannot listen on %s:%u: %s\n", host.c_str(), unsigned(port), e.what());
    return 1;
  }
  beast::error_code bound;
  std::printf("devserver listening on %s://%s:%u\n", tls ? "https" : "http", host.c_str(),
              unsigned(acceptor.local_endpoint(bound).port()));
  std::fflush(stdout);
  Listener listener(ctx, acceptor, tls);
  listener.Accept();
  io.run();
  return 1;
}

}  // namespace devserver
