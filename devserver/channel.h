// A connection's byte stream as the HTTP side reads and writes it: plain TCP, or TLS over
// TCP. Every read of the socket waits at most a time-out (Asio's blocking reads have none of
// their own), so a peer that stops in the middle of a handshake or a request cannot hold the
// connection's thread. Used by one thread at a time.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>

namespace devserver {

// The server side of TLS with this certificate chain (PEM, the server's certificate first)
// and its private key (PEM); null with the reason in `error` when either cannot be used.
std::unique_ptr<boost::asio::ssl::context> LoadTlsContext(const std::string& certFile, const std::string& keyFile,
                                                          std::string* error);

// The TCP socket as TLS (and plain HTTP) reads it: a read waits for the idle time-out while
// the channel awaits a request and nothing of it has come, else for the request time-out, and
// then fails with timed_out.
class TimedSocket {
 public:
  using lowest_layer_type = boost::asio::ip::tcp::socket::lowest_layer_type;
  using executor_type = boost::asio::ip::tcp::socket::executor_type;

  TimedSocket(boost::asio::ip::tcp::socket socket, int idleTimeoutMs, int requestTimeoutMs)
      : socket_(std::move(socket)), idleTimeoutMs_(idleTimeoutMs), requestTimeoutMs_(requestTimeoutMs) {}

  lowest_layer_type& lowest_layer() { return socket_; }
  executor_type get_executor() { return socket_.get_executor(); }
  boost::asio::ip::tcp::socket& socket() { return socket_; }

  void AwaitRequest(bool idle) { idle_ = idle; }
  bool IdleExpired() const { return idleExpired_; }
  bool Heard() const { return heard_; }
  // Reads after this one return at once when nothing has arrived (a close that does not wait).
  void NoWait() { noWait_ = true; }

  size_t read_some(const boost::asio::mutable_buffer& buffer, boost::system::error_code& ec);
  template <class Buffers>
  size_t read_some(const Buffers& buffers, boost::system::error_code& ec) {
    return read_some(FirstNonEmpty(buffers), ec);
  }
  template <class Buffers>
  size_t read_some(const Buffers& buffers) {
    boost::system::error_code ec;
    size_t n = read_some(buffers, ec);
    if (ec) throw boost::system::system_error(ec);
    return n;
  }
  template <class Buffers>
  size_t write_some(const Buffers& buffers, boost::system::error_code& ec) {
    return socket_.write_some(buffers, ec);
  }
  template <class Buffers>
  size_t write_some(const Buffers& buffers) {
    return socket_.write_some(buffers);
  }

 private:
  template <class Buffers>
  static boost::asio::mutable_buffer FirstNonEmpty(const Buffers& buffers) {
    for (auto it = boost::asio::buffer_sequence_begin(buffers); it != boost::asio::buffer_sequence_end(buffers); ++it) {
      boost::asio::mutable_buffer b(*it);
      if (b.size() > 0) return b;
    }
    return boost::asio::mutable_buffer();
  }

  boost::asio::ip::tcp::socket socket_;
  int idleTimeoutMs_;
  int requestTimeoutMs_;
  bool idle_ = false;
  bool idleExpired_ = false;
  bool noWait_ = false;
  bool heard_ = false;  // the peer has sent something
};

class Channel {
 public:
  // `tls` null: plain HTTP. The context outlives the channel.
  Channel(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context* tls, int idleTimeoutMs,
          int requestTimeoutMs);

  boost::asio::ip::tcp::socket& socket() { return raw_.socket(); }
  bool secure() const { return tls_.has_value(); }

  // The TLS handshake (nothing for plain HTTP), waited for as long as an idle connection is.
  bool Handshake(boost::system::error_code& ec);

  // The next read begins a request: with `idle` (nothing of it buffered yet) it may wait for the
  // idle time-out, and IdleExpired() then tells a peer that never began from one that stopped.
  void AwaitRequest(bool idle) { raw_.AwaitRequest(idle); }
  bool IdleExpired() const { return raw_.IdleExpired(); }
  // False for a peer that connected and closed without a word (a check that a port is open).
  bool PeerSpoke() const { return raw_.Heard(); }

  // What Beast reads requests through.
  template <class Buffers>
  size_t read_some(const Buffers& buffers, boost::system::error_code& ec) {
    size_t n = tls_ ? tls_->read_some(buffers, ec) : raw_.read_some(buffers, ec);
    raw_.AwaitRequest(false);
    return n;
  }
  template <class Buffers>
  size_t read_some(const Buffers& buffers) {
    boost::system::error_code ec;
    size_t n = read_some(buffers, ec);
    if (ec) throw boost::system::system_error(ec);
    return n;
  }

  bool SendAll(const char* data, size_t size);
  // `count` bytes of the file from `offset`: the kernel copies them for plain HTTP; TLS
  // encrypts them in blocks.
  bool SendFile(int fd, uint64_t offset, uint64_t count);

  // Ends the connection. `cut`: as a broken network would, without TLS's closing alert.
  void Close(bool cut);

 private:
  TimedSocket raw_;
  std::optional<boost::asio::ssl::stream<TimedSocket&>> tls_;
  bool established_ = false;  // the handshake went through: a closing alert can be sent
  std::vector<char> fileBlock_;
};

}  // namespace devserver
