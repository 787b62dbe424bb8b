#include "devserver/channel.h"

#include <openssl/ssl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <boost/asio/write.hpp>
#include <cerrno>
#include <cstring>

namespace devserver {
namespace {

namespace asio = boost::asio;
namespace ssl = asio::ssl;
using boost::system::error_code;

// True once `fd` has something to read (or the peer has closed) within `ms`.
bool WaitReadable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  int n;
  do {
    n = ::poll(&p, 1, ms);
  } while (n < 0 && errno == EINTR);
  return n > 0;
}

// Waits until the socket can take more bytes (it may be non-blocking underneath).
bool WaitWritable(int fd) {
  pollfd p{fd, POLLOUT, 0};
  return ::poll(&p, 1, 30000) > 0;
}

bool SendRaw(int fd, const char* data, size_t size) {
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
bool SendFileRaw(int sock, int file, uint64_t count, off_t offset) {
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

// Large enough that encrypting a download costs little more per byte than sending it.
constexpr size_t kFileBlock = 256 * 1024;

}  // namespace

std::unique_ptr<ssl::context> LoadTlsContext(const std::string& certFile, const std::string& keyFile,
                                             std::string* error) {
  // OpenSSL's own words for a file it cannot open say nothing of the file.
  for (const std::string* file : {&certFile, &keyFile}) {
    if (::access(file->c_str(), R_OK) != 0) {
      *error = "cannot read " + *file + ": " + std::strerror(errno);
      return nullptr;
    }
  }
  auto ctx = std::make_unique<ssl::context>(ssl::context::tls_server);
  ctx->set_options(ssl::context::default_workarounds);
  ::SSL_CTX_set_min_proto_version(ctx->native_handle(), TLS1_2_VERSION);
  error_code ec;
  ctx->use_certificate_chain_file(certFile, ec);
  if (ec) {
    *error = "cannot use the certificate " + certFile + ": " + ec.message();
    return nullptr;
  }
  ctx->use_private_key_file(keyFile, ssl::context::pem, ec);
  if (ec) {
    *error = "cannot use the key " + keyFile + ": " + ec.message();
    return nullptr;
  }
  if (::SSL_CTX_check_private_key(ctx->native_handle()) != 1) {
    *error = "the key " + keyFile + " does not belong to the certificate " + certFile;
    return nullptr;
  }
  return ctx;
}

size_t TimedSocket::read_some(const asio::mutable_buffer& buffer, error_code& ec) {
  int wait = noWait_ ? 0 : idle_ ? idleTimeoutMs_ : requestTimeoutMs_;
  if (!WaitReadable(socket_.native_handle(), wait)) {
    idleExpired_ = idle_;
    ec = asio::error::timed_out;
    return 0;
  }
  size_t n = socket_.read_some(buffer, ec);
  if (n > 0) {
    idle_ = false;  // the peer has begun: from now on it may pause only so long
    heard_ = true;
  }
  return n;
}

Channel::Channel(asio::ip::tcp::socket socket, ssl::context* tls, int idleTimeoutMs, int requestTimeoutMs)
    : raw_(std::move(socket), idleTimeoutMs, requestTimeoutMs) {
  if (tls) tls_.emplace(raw_, *tls);
}

bool Channel::Handshake(error_code& ec) {
  if (!tls_) return true;
  raw_.AwaitRequest(true);
  tls_->handshake(ssl::stream_base::server, ec);
  raw_.AwaitRequest(false);
  established_ = !ec;
  return established_;
}

bool Channel::SendAll(const char* data, size_t size) {
  if (!tls_) return SendRaw(socket().native_handle(), data, size);
  error_code ec;
  asio::write(*tls_, asio::buffer(data, size), ec);
  return !ec;
}

bool Channel::SendFile(int fd, uint64_t offset, uint64_t count) {
  if (!tls_) return SendFileRaw(socket().native_handle(), fd, count, off_t(offset));
  fileBlock_.resize(kFileBlock);
  while (count > 0) {
    size_t want = count < kFileBlock ? size_t(count) : kFileBlock;
    ssize_t n = ::pread(fd, fileBlock_.data(), want, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (!SendAll(fileBlock_.data(), size_t(n))) return false;
    offset += uint64_t(n);
    count -= uint64_t(n);
  }
  return true;
}

void Channel::Close(bool cut) {
  error_code ec;
  if (established_ && !cut) {
    // The closing alert goes out; the peer's answer to it is not waited for.
    raw_.NoWait();
    tls_->shutdown(ec);
  }
  socket().shutdown(asio::ip::tcp::socket::shutdown_both, ec);
  socket().close(ec);
}

}  // namespace devserver
