#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/data_message.h"
#include "agent/service/edm_helper_service.h"
#include "agent/tests/fake_windows.h"
#include "agent/service/websocket_server.h"
#include "common/win/registry.h"

namespace edms {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

// The port the test's server listens on (a free one, chosen when it starts).
uint16_t g_port = 0;

// A blocking client; every read gives up after five seconds instead of hanging the test.
class Client {
 public:
  // The handshake's HTTP status (101 when upgraded), 0 when the connection failed.
  int Connect(const std::string& host = "127.0.0.1:" + std::to_string(g_port),
              const std::optional<std::string>& origin = std::nullopt) {
    beast::error_code ec;
    ws_.next_layer().connect(tcp::endpoint(net::ip::address_v4::loopback(), g_port), ec);
    if (ec) return 0;
    DWORD timeout = 5000;
    setsockopt(ws_.next_layer().native_handle(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
    ws_.set_option(websocket::stream_base::decorator([origin](websocket::request_type& request) {
      if (origin) request.set(http::field::origin, *origin);
    }));
    ws_.control_callback([this](websocket::frame_type kind, beast::string_view) {
      if (kind == websocket::frame_type::ping) ++pings;
    });
    websocket::response_type response;
    ws_.handshake(response, host, "/", ec);
    return ec ? 0 : static_cast<int>(response.result_int());
  }
  bool SendText(const std::string& text) {
    beast::error_code ec;
    ws_.text(true);
    ws_.write(net::buffer(text), ec);
    return !ec;
  }
  bool Send(const std::string& arg1, const std::string& arg2) { return SendText(EncodeDataMessage({arg1, arg2})); }
  // Sends a command with an empty parameter and reads the next message.
  std::optional<DataMessage> Ask(const std::string& command) {
    if (!Send(command, "")) return std::nullopt;
    return Read();
  }
  // Connects and sends the login message; true once the welcome for `key` has come.
  bool LogIn(const std::string& key) {
    if (Connect() != 101 || !Send(key, "")) return false;
    auto welcome = Read();
    return welcome && welcome->arg1 == "Welcome " + key;
  }
  // The next data message; nullopt when the connection ended.
  std::optional<DataMessage> Read() {
    beast::flat_buffer buffer;
    beast::error_code ec;
    ws_.read(buffer, ec);
    if (ec) return std::nullopt;
    return DecodeDataMessage(beast::buffers_to_string(buffer.data()));
  }
  void Close() {
    beast::error_code ec;
    ws_.next_layer().close(ec);
  }

  std::atomic<int> pings{0};  // pings answered by this client's reads

 private:
  net::io_context ioc_;
  websocket::stream<tcp::socket> ws_{ioc_};
};

// The status line of an upgrade request sent as plain HTTP (the WebSocket client does not
// keep the refusing response).
int UpgradeStatus(const std::string& host, const std::optional<std::string>& origin) {
  net::io_context ioc;
  beast::tcp_stream stream(ioc);
  beast::error_code ec;
  stream.socket().connect(tcp::endpoint(net::ip::address_v4::loopback(), g_port), ec);
  if (ec) return 0;
  DWORD timeout = 5000;
  setsockopt(stream.socket().native_handle(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
             sizeof timeout);
  http::request<http::empty_body> request(http::verb::get, "/", 11);
  request.set(http::field::host, host);
  if (origin) request.set(http::field::origin, *origin);
  request.set(http::field::upgrade, "websocket");
  request.set(http::field::connection, "Upgrade");
  request.set(http::field::sec_websocket_key, "dGhlIHNhbXBsZSBub25jZQ==");
  request.set(http::field::sec_websocket_version, "13");
  http::write(stream, request, ec);
  if (ec) return 0;
  beast::flat_buffer buffer;
  http::response_parser<http::empty_body> parser;
  parser.skip(true);  // a 101 has no body to wait for
  http::read_header(stream, buffer, parser, ec);
  return ec ? 0 : static_cast<int>(parser.get().result_int());
}

class ServerTest : public ::testing::Test {
 protected:
  static win::ClientConfig TestConfig() {
    win::ClientConfig config;
    config.KeyPath = "Software\\edms-tests\\agent-server-" + std::to_string(GetCurrentProcessId());
    // A server address makes CHECK_USER look for the session user (in the background).
    config.ServerAddress = "edms01";
    return config;
  }
  ~ServerTest() override {
    server_.stop();
    service_.WaitIdle(std::chrono::seconds(30));
    win::DeleteRegistryTree(HKEY_CURRENT_USER, config_.KeyPath);
  }
  void Start(ServerSettings settings = {}) {
    settings.port = 0;
    if (settings.allowedOrigins.empty()) settings.allowedOrigins = AllowedOriginSet("", "http://127.0.0.1:8080/");
    server_.start(service_, settings);
    g_port = server_.port();
    ASSERT_NE(g_port, 0);
  }
  bool WaitForConnections(size_t count, int tries = 300) {
    for (int i = 0; i < tries; ++i) {
      if (server_.connectionCount() == count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  win::ClientConfig config_ = TestConfig();
  SharedConfig shared_{config_};
  std::mutex mutex_;  // the lookup runs on the service's own thread
  std::string sessionUser_;
  std::condition_variable released_;
  bool lookupHeld_ = false;
  void SetSessionUser(const std::string& user) {
    std::lock_guard<std::mutex> lock(mutex_);
    sessionUser_ = user;
  }
  void HoldLookups(bool hold) {
    std::lock_guard<std::mutex> lock(mutex_);
    lookupHeld_ = hold;
    released_.notify_all();
  }
  test::FakeWindows windows_;
  EdmHelperService service_{shared_, windows_, [this](const std::string&) {
                              std::unique_lock<std::mutex> lock(mutex_);
                              released_.wait_for(lock, std::chrono::seconds(20), [this] { return !lookupHeld_; });
                              return sessionUser_;
                            }};
  WebsocketServer server_;
};

TEST_F(ServerTest, LoginThenCommands) {
  Start();
  Client client;
  ASSERT_EQ(client.Connect(), 101);
  // Messages that are no data message are ignored before and after the login.
  ASSERT_TRUE(client.SendText("not json"));
  ASSERT_TRUE(client.SendText(R"({"arg1":"half"})"));
  ASSERT_TRUE(client.Send("\xEA\xB9\x80\xEC\xB2\xA0\xEC\x88\x98", "any"));
  auto welcome = client.Read();
  ASSERT_TRUE(welcome);
  EXPECT_EQ(welcome->arg1, "Welcome \xEA\xB9\x80\xEC\xB2\xA0\xEC\x88\x98");
  EXPECT_EQ(welcome->arg2, "");
  ASSERT_TRUE(client.SendText("[]"));
  ASSERT_TRUE(client.Send("check_user", ""));  // no reply: the next one must be CHECK_USER's
  SetSessionUser("BOB");
  auto reply = client.Ask("CHECK_USER");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->arg1, "CHECK_USER");
  EXPECT_EQ(reply->arg2, "BOB");
  EXPECT_EQ(service_.userId(), "\xEA\xB9\x80\xEC\xB2\xA0\xEC\x88\x98");
}

TEST_F(ServerTest, HandshakeRefusals) {
  Start();
  struct Case {
    std::string host;
    std::optional<std::string> origin;
    int status;
  } cases[] = {
      {"127.0.0.1:" + std::to_string(g_port), std::nullopt, 101},
      {"localhost:" + std::to_string(g_port), std::string("http://127.0.0.1:8080"), 101},
      {"rebound.example:" + std::to_string(g_port), std::nullopt, 403},
      {"127.0.0.1:" + std::to_string(g_port), std::string("http://evil.example"), 403},
      {"127.0.0.1:" + std::to_string(g_port), std::string("null"), 403},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UpgradeStatus(c.host, c.origin), c.status) << c.host << " " << c.origin.value_or("-");
    // A refused client never gets to the WebSocket stage.
    Client client;
    EXPECT_EQ(client.Connect(c.host, c.origin) == 101, c.status == 101) << c.host;
  }
}

TEST_F(ServerTest, OversizedMessageClosesOnlyItsConnection) {
  ServerSettings settings;
  settings.maxMessageBytes = 1024;
  Start(settings);
  Client big, other;
  ASSERT_EQ(big.Connect(), 101);
  ASSERT_EQ(other.Connect(), 101);
  // The server may close the connection on the frame's header, while the rest is still being
  // written: the send may fail or not, the connection must end either way.
  big.Send("alice", std::string(4096, 'x'));
  EXPECT_FALSE(big.Read());
  ASSERT_TRUE(other.Send("bob", ""));
  auto welcome = other.Read();
  ASSERT_TRUE(welcome);
  EXPECT_EQ(welcome->arg1, "Welcome bob");
}

TEST_F(ServerTest, ConnectionCap) {
  ServerSettings settings;
  settings.maxConnections = 3;
  Start(settings);
  Client clients[3];
  for (auto& client : clients) ASSERT_EQ(client.Connect(), 101);
  ASSERT_TRUE(WaitForConnections(3));
  Client refused;
  EXPECT_NE(refused.Connect(), 101);
  clients[0].Close();
  ASSERT_TRUE(WaitForConnections(2));
  Client late;
  ASSERT_TRUE(late.LogIn("carol"));
}

TEST_F(ServerTest, LoginExpiryClosesSilentConnections) {
  ServerSettings settings;
  settings.loginExpiry = std::chrono::seconds(1);
  Start(settings);
  Client silent, prompt;
  ASSERT_EQ(silent.Connect(), 101);
  ASSERT_TRUE(prompt.LogIn("alice"));
  EXPECT_FALSE(silent.Read());  // closed after a second, well before the read gives up
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  auto reply = prompt.Ask("CHECK_USER");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->arg2, "SUCCESS");
}

TEST_F(ServerTest, APageKeepsItsSlotOnlyWhileItAnswersPings) {
  ServerSettings settings;
  settings.idleTimeout = std::chrono::seconds(2);
  Start(settings);
  Client quiet, page;
  // Both send nothing after logging in; the quiet one reads nothing either, so the server's
  // pings go unanswered, while the page's read answers them until the server stops.
  ASSERT_TRUE(quiet.LogIn("alice"));
  ASSERT_TRUE(page.LogIn("bob"));
  std::thread reading([&page] { page.Read(); });
  // A third ping comes well after a silent page's time is up (two idle time-outs in).
  for (int i = 0; i < 2000 && page.pings < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GE(page.pings, 3);
  EXPECT_TRUE(WaitForConnections(1)) << "the quiet one closed, the page kept";
  server_.stop();
  reading.join();
}

TEST_F(ServerTest, APageThatReadsNoRepliesIsClosed) {
  ServerSettings settings;
  settings.maxQueuedReplies = 4;
  Start(settings);
  // Large replies fill the socket's buffers soon; after that they wait in the agent.
  SetSessionUser(std::string(60000, 'u'));
  Client greedy;
  ASSERT_TRUE(greedy.LogIn("alice"));
  for (int i = 0; i < 600 && greedy.Send("CHECK_USER", ""); ++i) {
  }
  EXPECT_TRUE(WaitForConnections(0, 3000));
}

TEST_F(ServerTest, ReplyToAGoneConnectionIsDropped) {
  Start();
  {
    Client client;
    ASSERT_TRUE(client.LogIn("alice"));
    HoldLookups(true);  // the page leaves while CHECK_USER is still looking
    ASSERT_TRUE(client.Send("CHECK_USER", ""));
    client.Close();
  }
  ASSERT_TRUE(WaitForConnections(0));
  HoldLookups(false);
  // The answer went to a connection that no longer exists.
  ASSERT_TRUE(service_.WaitIdle(std::chrono::seconds(20)));
  Client next;
  ASSERT_TRUE(next.LogIn("bob"));
}

TEST_F(ServerTest, ALookupThatWaitsHoldsNoIoThread) {
  ServerSettings settings;
  settings.workerThreads = 1;
  Start(settings);
  Client slow, other;
  ASSERT_TRUE(slow.LogIn("alice"));
  HoldLookups(true);
  ASSERT_TRUE(slow.Send("CHECK_USER", ""));
  // The one I/O thread still serves another page while the lookup waits.
  ASSERT_TRUE(other.LogIn("bob"));
  HoldLookups(false);
  auto reply = slow.Read();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->arg1, "CHECK_USER");
}

TEST_F(ServerTest, PortInUseAndRestart) {
  Start();
  WebsocketServer second;
  ServerSettings settings;
  settings.port = g_port;
  EXPECT_THROW(second.start(service_, settings), std::runtime_error);
  Client open;
  ASSERT_EQ(open.Connect(), 101);
  server_.stop();  // with a connection open: it is closed, not waited for
  EXPECT_FALSE(open.Read());
  Start();
  Client again;
  EXPECT_EQ(again.Connect(), 101);
}

}  // namespace
}  // namespace edms
