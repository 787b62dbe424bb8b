// ws_probe.exe PORT: a Windows program that opens the agent's WebSocket as a local program
// would (no Origin) and prints its own process id and the status line it got, e.g.
// "pid 1234\nHTTP/1.1 101 Switching Protocols". Exit code 0 when an answer came, 1 otherwise
// (a connection the agent refused is closed before any answer).
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ws_probe PORT\n");
    return 2;
  }
  const int port = _wtoi(argv[1]);
  std::printf("pid %lu\n", static_cast<unsigned long>(GetCurrentProcessId()));
  std::fflush(stdout);
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<u_short>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return 1;
  const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                              "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  send(s, request.data(), static_cast<int>(request.size()), 0);
  DWORD timeout = 10000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  std::string answer;
  char buffer[512];
  int got;
  while (answer.find("\r\n") == std::string::npos && (got = recv(s, buffer, sizeof buffer, 0)) > 0) {
    answer.append(buffer, static_cast<size_t>(got));
  }
  closesocket(s);
  WSACleanup();
  if (answer.empty()) return 1;
  std::printf("%s\n", answer.substr(0, answer.find("\r\n")).c_str());
  return 0;
}
