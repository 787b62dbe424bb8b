// A scripted HTTP peer on 127.0.0.1 for tests: a Winsock thread that takes one connection
// at a time, records the request it sends and answers as the current script says.
#pragma once
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/ascii.h"

namespace edms::test {

struct PeerRequest {
  std::string raw;   // every byte received on the connection
  std::string head;  // request line and headers, up to and without the blank line
  std::string body;  // the body as far as Content-Length allowed and the client sent it
  bool headComplete = false;

  // The value of a request header (name compared without regard to case), or "" when absent.
  std::string Header(const std::string& name) const {
    size_t pos = head.find("\r\n");
    while (pos != std::string::npos) {
      size_t start = pos + 2;
      size_t end = head.find("\r\n", start);
      std::string line = head.substr(start, end == std::string::npos ? end : end - start);
      size_t colon = line.find(':');
      if (colon != std::string::npos && EqualsIgnoreCase(line.substr(0, colon), name)) {
        size_t v = line.find_first_not_of(' ', colon + 1);
        return v == std::string::npos ? std::string() : line.substr(v);
      }
      pos = end;
    }
    return {};
  }
  bool HasHeader(const std::string& name) const {
    return head.find("\r\n" + name + ":") != std::string::npos;
  }
  std::string RequestLine() const { return head.substr(0, head.find("\r\n")); }
};

class HttpPeer {
 public:
  struct Script {
    std::string reply;         // bytes sent once the request has arrived
    bool holdOpen = false;     // after the reply (if any), keep the connection silent
    bool readRequest = true;   // false: answer without waiting for the request
  };

  HttpPeer() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listener_, 8);
    int len = sizeof addr;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~HttpPeer() {
    stop_ = true;
    thread_.join();
    closesocket(listener_);
    WSACleanup();
  }
  HttpPeer(const HttpPeer&) = delete;
  HttpPeer& operator=(const HttpPeer&) = delete;

  uint16_t port() const { return port_; }
  std::string Url(const std::string& path = "/adaptor") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  void SetScript(Script script) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_ = std::move(script);
  }
  // Requests of the connections finished so far, oldest first.
  std::vector<PeerRequest> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  int Connections() const { return connections_; }
  // Waits until `n` connections have been handled (recorded), at most `timeout`.
  bool WaitForRequests(size_t n, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return done_.wait_for(lock, timeout, [&] { return requests_.size() >= n; });
  }

 private:
  static bool Readable(SOCKET s, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &tv) > 0;
  }

  void Run() {
    while (!stop_) {
      if (!Readable(listener_, 50)) continue;
      SOCKET s = accept(listener_, nullptr, nullptr);
      if (s == INVALID_SOCKET) continue;
      ++connections_;
      Script script;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        script = script_;
      }
      PeerRequest request;
      if (script.readRequest) ReadRequest(s, request);
      SendAll(s, script.reply);
      while (script.holdOpen && !stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      shutdown(s, SD_SEND);
      // Take what the client still sends (the rest of a request we did not wait for).
      char sink[4096];
      while (Readable(s, 200) && recv(s, sink, sizeof sink, 0) > 0) {
      }
      closesocket(s);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(std::move(request));
      }
      done_.notify_all();
    }
  }

  // Reads the head and as much body as Content-Length announces; gives up after 3 s of
  // silence or when the client closes.
  void ReadRequest(SOCKET s, PeerRequest& r) {
    char buffer[65536];
    size_t wanted = SIZE_MAX;
    for (;;) {
      if (r.headComplete && r.raw.size() >= wanted) break;
      if (!Readable(s, 3000)) break;
      int n = recv(s, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      r.raw.append(buffer, static_cast<size_t>(n));
      if (!r.headComplete) {
        size_t end = r.raw.find("\r\n\r\n");
        if (end == std::string::npos) continue;
        r.headComplete = true;
        r.head = r.raw.substr(0, end);
        std::string length = r.Header("Content-Length");
        wanted = end + 4 + (length.empty() ? 0 : std::stoull(length));
      }
    }
    if (r.headComplete) {
      size_t bodyStart = r.head.size() + 4;
      r.body = r.raw.substr(bodyStart, wanted - bodyStart);
    }
  }

  static void SendAll(SOCKET s, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
      int n = send(s, data.data() + sent,
                   static_cast<int>(std::min<size_t>(data.size() - sent, 65536)), 0);
      if (n <= 0) return;
      sent += static_cast<size_t>(n);
    }
  }

  SOCKET listener_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  std::condition_variable done_;
  Script script_;
  std::vector<PeerRequest> requests_;
  std::thread thread_;
};

// A reply with the given header lines (each ending in CR LF) and body, closed after it.
inline std::string HttpReply(const std::string& headerLines, const std::string& body = "",
                             bool withLength = true) {
  std::string reply = "HTTP/1.1 200 OK\r\nConnection: close\r\n" + headerLines;
  if (withLength) reply += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return reply + "\r\n" + body;
}

}  // namespace edms::test
