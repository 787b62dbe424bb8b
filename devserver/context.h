// What every connection shares: the store, the fault table and the served folders.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "devserver/faults.h"
#include "devserver/store.h"

namespace devserver {

struct ServerContext {
  std::unique_ptr<Store> store;
  Faults faults;
  std::string webDir;
  std::string adaptorPath = "/adaptor";
  bool quiet = false;
  // A kept-alive connection with no new request for this long is closed.
  int idleTimeoutMs = 60000;
  // A peer that sends nothing for this long in the middle of a request is dropped.
  int requestTimeoutMs = 30000;
  // Connections served at once; more are answered 503 and closed.
  int maxConnections = 64;
  // Largest upload body, and largest content the admin API makes.
  uint64_t maxUploadBytes = uint64_t(8) << 30;
};

}  // namespace devserver
