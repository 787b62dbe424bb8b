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
};

}  // namespace devserver
