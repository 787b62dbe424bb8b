#include "devserver/http_server.h"

#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/asio.hpp>
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
using tcp = asio::ip::tcp;

std::mutex logMutex;

void LogLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(logMutex);
  std::fprintf(stderr, "%s %s\n", Store::NowUtc().c_str(), line.c_str());
}

// True once `fd` has something to read (or the peer has closed) within `ms`.
bool WaitReadable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  int n;
  do {
    n = ::poll(&p, 1, ms);
  } while (n < 0 && errno == EINTR);
  return n > 0;
}

// The socket as Beast reads a request from it: a read that gets nothing for `timeoutMs` fails
// with timed_out, so a peer that stops in the middle of a request cannot hold its thread
// (Asio's blocking reads have no time limit of their own).
class TimedReader {
 public:
  TimedReader(tcp::socket& socket, int timeoutMs) : socket_(socket), timeoutMs_(timeoutMs) {}

  template <class Buffers>
  size_t read_some(const Buffers& buffers, beast::error_code& ec) {
    if (!WaitReadable(socket_.native_handle(), timeoutMs_)) {
      ec = asio::error::timed_out;
      return 0;
    }
    return socket_.read_some(buffers, ec);
  }

  template <class Buffers>
  size_t read_some(const Buffers& buffers) {
    beast::error_code ec;
    size_t n = read_some(buffers, ec);
    if (ec) throw beast::system_error(ec);
    return n;
  }

 private:
  tcp::socket& socket_;
  int timeoutMs_;
};

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

// Waits until the socket can take more bytes (it may be non-blocking underneath).
bool WaitWritable(int fd) {
  pollfd p{fd, POLLOUT, 0};
  return ::poll(&p, 1, 30000) > 0;
}

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (errno == EAGAIN && !WaitWritable(fd)) return false;
      continue;
    }
    if (n <= 0) return false;
    data += n;
    size -= size_t(n);
  }
  return true;
}

// The kernel copies file to socket; nothing passes through user memory.
bool SendFileRange(int sock, int file, uint64_t count, off_t offset = 0) {
  while (count > 0) {
    size_t chunk = count > (1u << 30) ? (1u << 30) : size_t(count);
    ssize_t n = ::sendfile(sock, file, &offset, chunk);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (errno == EAGAIN && !WaitWritable(sock)) return false;
      continue;
    }
    if (n <= 0) return false;
    count -= uint64_t(n);
  }
  return true;
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
  Connection(ServerContext& ctx, tcp::socket socket) : ctx_(ctx), socket_(std::move(socket)) {}

  void Run() {
    beast::error_code ec;
    socket_.set_option(tcp::no_delay(true), ec);
    try {
      while (HandleOne()) {
      }
    } catch (const std::exception& e) {
      Log(std::string("connection dropped: ") + e.what());
    }
    socket_.shutdown(tcp::socket::shutdown_both, ec);
    socket_.close(ec);
  }

 private:
  // False when the connection is to be closed.
  bool HandleOne() {
    http::request_parser<http::empty_body> head;
    head.header_limit(kHeaderLimit);
    head.body_limit(std::numeric_limits<std::uint64_t>::max());  // each route sets its own limit once it knows the body's kind
    // Asio's blocking reads have no time limit, so an idle kept-alive peer is waited for here,
    // where no request has begun yet.
    if (buffer_.size() == 0 && !WaitReadable(socket_.native_handle(), ctx_.idleTimeoutMs)) return false;
    beast::error_code ec;
    http::read_header(reader_, buffer_, head, ec);
    if (ec == http::error::end_of_stream || ec == asio::error::eof || ec == asio::error::connection_reset) {
      return false;
    }
    if (ec == asio::error::timed_out) return Dropped("headers");
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
      SendAll(socket_.native_handle(), kContinue, sizeof kContinue - 1);
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
      if (!parser.is_done()) http::read(reader_, buffer_, parser, ec);
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
    if (!parser.is_done()) http::read(reader_, buffer_, parser, ec);
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
    auto remote = socket_.remote_endpoint(ec);
    if (ec || !remote.address().is_loopback()) {
      HttpReply r = AdaptorRefusal(403, code::kWrongRoute, "The admin API answers loopback callers only.");
      r.close = true;
      return Write(r, false);
    }
    auto local = socket_.local_endpoint(ec);
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
    int fd = socket_.native_handle();
    if (r.dropWithoutReply) return false;
    uint64_t full = r.BodySize();
    uint64_t send = r.sendOnly && *r.sendOnly < full ? *r.sendOnly : full;
    bool close = r.close || !keepAlive || r.cutConnection;
    std::string head = "HTTP/1.1 " + std::to_string(r.status) + " " + std::string(http::obsolete_reason(static_cast<http::status>(r.status))) + "\r\n";
    for (const auto& [name, value] : r.headers) head += name + ": " + value + "\r\n";
    head += "Content-Length: " + std::to_string(r.cutConnection ? full : send) + "\r\n";
    head += close ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
    bool ok = SendAll(fd, head.data(), head.size());
    uint64_t sent = 0;
    if (ok && r.holdTicket) ok = SendHeld(fd, r, send, &sent);
    if (ok) ok = SendBody(fd, r, sent, send - sent);
    return ok && !close;
  }

  bool SendBody(int fd, const HttpReply& r, uint64_t offset, uint64_t count) {
    if (count == 0) return true;
    if (r.file.valid()) return SendFileRange(fd, r.file.get(), count, off_t(offset));
    return SendAll(fd, r.body.data() + offset, size_t(count));
  }

  // A piece a second keeps the client's receive time-out from firing (and a client that reads
  // in blocks of the piece's size busy) while a test looks at the client's window; the last
  // byte waits for the release so that the reply cannot end early.
  bool SendHeld(int fd, const HttpReply& r, uint64_t total, uint64_t* sent) {
    auto until = std::chrono::steady_clock::now() + r.holdFor;
    while (std::chrono::steady_clock::now() < until) {
      if (*sent + 1 < total) {
        uint64_t piece = std::min(r.holdPiece, total - 1 - *sent);
        if (!SendBody(fd, r, *sent, piece)) return false;
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
  tcp::socket socket_;
  TimedReader reader_{socket_, ctx_.requestTimeoutMs};
  beast::flat_buffer buffer_;
};

// Answers a connection that will not be served and closes it, without waiting on the peer.
void TurnAway(tcp::socket& socket, const std::string& why) {
  std::string body = why + "\n";
  std::string reply = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\n"
                      "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  (void)::send(socket.native_handle(), reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  beast::error_code ec;
  socket.shutdown(tcp::socket::shutdown_both, ec);
  socket.close(ec);
}

}  // namespace

int Serve(ServerContext& ctx, const std::string& host, uint16_t port) {
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
  std::printf("devserver listening on http://%s:%u\n", host.c_str(), unsigned(acceptor.local_endpoint(bound).port()));
  std::fflush(stdout);
  // Connections being served; each has a thread of its own.
  auto active = std::make_shared<std::atomic<int>>(0);
  for (;;) {
    auto socket = std::make_shared<tcp::socket>(io);
    beast::error_code ec;
    acceptor.accept(*socket, ec);
    if (ec) {
      // Out of descriptors, for instance: wait for connections to end rather than spin.
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    if (active->load() >= ctx.maxConnections) {
      if (!ctx.quiet) LogLine("connection refused: " + std::to_string(ctx.maxConnections) + " are being served");
      TurnAway(*socket, "The server is serving " + std::to_string(ctx.maxConnections) +
                            " connections already; try again later.");
      continue;
    }
    ++*active;
    try {
      std::thread([&ctx, active, socket]() {
        struct Leave {
          std::atomic<int>& count;
          ~Leave() { --count; }
        } leave{*active};
        Connection(ctx, std::move(*socket)).Run();
      }).detach();
    } catch (const std::exception& e) {  // no thread to be had: this connection only is turned away
      --*active;
      LogLine(std::string("cannot start a thread for a connection: ") + e.what());
      TurnAway(*socket, "The server cannot take this connection now; try again later.");
    }
  }
}

}  // namespace devserver
