// devserver --port N --data DIR [--seed] [--web DIR] [--host ADDR] [--adaptor PATH] [--idle-timeout MS]
//           [--quiet]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "devserver/context.h"
#include "devserver/http_server.h"
#include "devserver/seed.h"

#ifndef DEVSERVER_DEFAULT_WEB
#define DEVSERVER_DEFAULT_WEB "web"
#endif

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: devserver --port N --data DIR [--seed] [--web DIR] [--host ADDR] [--adaptor PATH] "
               "[--idle-timeout MS] [--quiet]\n"
               "  --port N        port to listen on (0 picks a free one)\n"
               "  --data DIR      data folder: edms.sqlite and content files (created when missing)\n"
               "  --seed          fill an empty data folder with the demo data\n"
               "  --web DIR       folder of static pages (default: the repository's web/)\n"
               "  --host ADDR     address to listen on (default 127.0.0.1)\n"
               "  --adaptor PATH  adaptor URL path (default /adaptor)\n"
               "  --idle-timeout MS  close a kept-alive connection idle this long (default 60000)\n"
               "  --quiet         no request log on stderr\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  std::string data;
  std::string host = "127.0.0.1";
  long port = -1;
  bool seed = false;
  devserver::ServerContext ctx;
  ctx.webDir = DEVSERVER_DEFAULT_WEB;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--port" && hasValue) {
      char* end = nullptr;
      port = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || port < 0 || port > 65535) return Usage();
    } else if (arg == "--data" && hasValue) {
      data = argv[++i];
    } else if (arg == "--web" && hasValue) {
      ctx.webDir = argv[++i];
    } else if (arg == "--host" && hasValue) {
      host = argv[++i];
    } else if (arg == "--adaptor" && hasValue) {
      ctx.adaptorPath = argv[++i];
    } else if (arg == "--idle-timeout" && hasValue) {
      char* end = nullptr;
      long ms = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || ms <= 0 || ms > 24L * 3600 * 1000) return Usage();
      ctx.idleTimeoutMs = static_cast<int>(ms);
    } else if (arg == "--seed") {
      seed = true;
    } else if (arg == "--quiet") {
      ctx.quiet = true;
    } else {
      return Usage();
    }
  }
  if (port < 0 || data.empty()) return Usage();

  std::string error;
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
  return devserver::Serve(ctx, host, uint16_t(port));
}
