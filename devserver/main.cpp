// devserver --port N --data DIR [--seed] [--web DIR] [--host ADDR] [--adaptor PATH] [--idle-timeout MS]
//           [--request-timeout MS] [--max-connections N] [--max-upload BYTES] [--tls-cert FILE --tls-key FILE]
//           [--quiet]
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "devserver/channel.h"
#include "devserver/context.h"
#include "devserver/http_server.h"
#include "devserver/seed.h"

#ifndef DEVSERVER_DEFAULT_WEB
#define DEVSERVER_DEFAULT_WEB "web"
#endif

namespace {

// A whole number from `low` to `high`, or nothing.
std::optional<long long> Number(const char* text, long long low, long long high) {
  char* end = nullptr;
  errno = 0;
  long long n = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || n < low || n > high) return std::nullopt;
  return n;
}

int Usage() {
  std::fprintf(stderr,
               "usage: devserver --port N --data DIR [--seed] [--web DIR] [--host ADDR] [--adaptor PATH] "
               "[--idle-timeout MS] [--request-timeout MS] [--max-connections N] [--max-upload BYTES] "
               "[--tls-cert FILE --tls-key FILE] [--quiet]\n"
               "  --port N        port to listen on (0 picks a free one)\n"
               "  --data DIR      data folder: edms.sqlite and content files (created when missing)\n"
               "  --seed          fill an empty data folder with the demo data\n"
               "  --web DIR       folder of static pages (default: the repository's web/)\n"
               "  --host ADDR     address to listen on (default 127.0.0.1)\n"
               "  --adaptor PATH  adaptor URL path (default /adaptor)\n"
               "  --idle-timeout MS  close a kept-alive connection idle this long (default 60000)\n"
               "  --request-timeout MS  drop a peer silent this long in the middle of a request (default 30000)\n"
               "  --max-connections N   connections served at once; more are turned away (default 64)\n"
               "  --max-upload BYTES    largest check-in body (default 8 GiB)\n"
               "  --tls-cert FILE       serve https with this certificate chain (PEM, the server's first)\n"
               "  --tls-key FILE        and this private key (PEM); both or neither\n"
               "  --quiet         no request log on stderr\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  std::string data;
  std::string host = "127.0.0.1";
  std::string tlsCert, tlsKey;
  long port = -1;
  bool seed = false;
  devserver::ServerContext ctx;
  ctx.webDir = DEVSERVER_DEFAULT_WEB;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--port" && hasValue) {
      std::optional<long long> n = Number(argv[++i], 0, 65535);
      if (!n) return Usage();
      port = long(*n);
    } else if (arg == "--data" && hasValue) {
      data = argv[++i];
    } else if (arg == "--web" && hasValue) {
      ctx.webDir = argv[++i];
    } else if (arg == "--host" && hasValue) {
      host = argv[++i];
    } else if (arg == "--adaptor" && hasValue) {
      ctx.adaptorPath = argv[++i];
    } else if ((arg == "--idle-timeout" || arg == "--request-timeout") && hasValue) {
      std::optional<long long> ms = Number(argv[++i], 1, 24LL * 3600 * 1000);
      if (!ms) return Usage();
      (arg == "--idle-timeout" ? ctx.idleTimeoutMs : ctx.requestTimeoutMs) = int(*ms);
    } else if (arg == "--max-connections" && hasValue) {
      std::optional<long long> n = Number(argv[++i], 1, 10000);
      if (!n) return Usage();
      ctx.maxConnections = int(*n);
    } else if (arg == "--max-upload" && hasValue) {
      std::optional<long long> n = Number(argv[++i], 0, 1LL << 50);
      if (!n) return Usage();
      ctx.maxUploadBytes = uint64_t(*n);
    } else if (arg == "--tls-cert" && hasValue) {
      tlsCert = argv[++i];
    } else if (arg == "--tls-key" && hasValue) {
      tlsKey = argv[++i];
    } else if (arg == "--seed") {
      seed = true;
    } else if (arg == "--quiet") {
      ctx.quiet = true;
    } else {
      return Usage();
    }
  }
  if (port < 0 || data.empty() || tlsCert.empty() != tlsKey.empty()) return Usage();

  std::string error;
  std::unique_ptr<boost::asio::ssl::context> tls;
  if (!tlsCert.empty() && !(tls = devserver::LoadTlsContext(tlsCert, tlsKey, &error))) {
    std::fprintf(stderr, "devserver: %s\n", error.c_str());
    return 1;
  }
  ctx.store = devserver::Store::Open(data, &error);
  if (!ctx.store) {
    std::fprintf(stderr, "devserver: %s\n", error.c_str());
    return 1;
  }
  if (seed) {
    try {
      if (devserver::SeedDemoData(*ctx.store)) {
        std::fprintf(stderr, "devserver: demo data written to %s\n", data.c_str());
      } else {
        std::fprintf(stderr, "devserver: %s already holds data, not seeding\n", data.c_str());
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "devserver: seeding failed: %s\n", e.what());
      return 1;
    }
  }
  return devserver::Serve(ctx, host, uint16_t(port), tls.get());
}
