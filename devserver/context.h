// What every connection shares: the store, the fault table and the served folders.
#pragma once
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
};

}  // namespace devserver
