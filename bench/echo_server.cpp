// echo_server.exe PORT: the yardstick of the agent's command service. A bare WebSocket server
// on 127.0.0.1 built like the agent's (Boost.Beast, two I/O threads, a strand per connection,
// the same time-outs) that answers every text message at once with the reply a CHECK_USER
// gets, and does nothing else. Run under Wine beside the agent, with the same client, it shows
// what the service costs over the wire and the library alone.
#include <boost/asio/dispatch.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

const std::string kReply = R"({"arg1":"CHECK_USER","arg2":"SUCCESS"})";

class Session : public std::enable_shared_from_this<Session> {
 public:
  explicit Session(tcp::socket&& socket) : ws_(std::move(socket)) {}

  void Run() { net::dispatch(ws_.get_executor(), beast::bind_front_handler(&Session::Accept, shared_from_this())); }

 private:
  void Accept() {
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws_.async_accept(beast::bind_front_handler(&Session::OnAccept, shared_from_this()));
  }
  void OnAccept(beast::error_code ec) {
    if (!ec) Read();
  }
  void Read() { ws_.async_read(buffer_, beast::bind_front_handler(&Session::OnRead, shared_from_this())); }
  void OnRead(beast::error_code ec, std::size_t) {
    if (ec) return;
    buffer_.consume(buffer_.size());
    ws_.text(true);
    ws_.async_write(net::buffer(kReply), beast::bind_front_handler(&Session::OnWrite, shared_from_this()));
  }
  void OnWrite(beast::error_code ec, std::size_t) {
    if (!ec) Read();
  }

  websocket::stream<beast::tcp_stream> ws_;
  beast::flat_buffer buffer_;
};

class Listener : public std::enable_shared_from_this<Listener> {
 public:
  Listener(net::io_context& ioc, const tcp::endpoint& endpoint) : ioc_(ioc), acceptor_(net::make_strand(ioc)) {
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(net::socket_base::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen(net::socket_base::max_listen_connections);
  }
  void Accept() {
    acceptor_.async_accept(net::make_strand(ioc_), beast::bind_front_handler(&Listener::OnAccept, shared_from_this()));
  }

 private:
  void OnAccept(beast::error_code ec, tcp::socket socket) {
    if (!ec) std::make_shared<Session>(std::move(socket))->Run();
    Accept();
  }
  net::io_context& ioc_;
  tcp::acceptor acceptor_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: echo_server PORT\n");
    return 2;
  }
  const auto port = static_cast<unsigned short>(std::atoi(argv[1]));
  constexpr int kThreads = 2;
  net::io_context ioc(kThreads);
  std::make_shared<Listener>(ioc, tcp::endpoint(net::ip::address_v4::loopback(), port))->Accept();
  std::vector<std::thread> threads;
  for (int i = 1; i < kThreads; ++i) threads.emplace_back([&ioc] { ioc.run(); });
  ioc.run();
  for (auto& thread : threads) thread.join();
  return 0;
}
