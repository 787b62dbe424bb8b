// Fault injection for tests, and a record of the last request each command received.
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "devserver/adaptor_request.h"

namespace devserver {

enum class FaultMode {
  Refuse,      // reply with the given code and message; the command is not run
  ShortBody,   // XRS_FILESIZE announces the whole file, only `bytes` of it are sent
  CloseEarly,  // send `bytes` of the body, then close the connection (no reply at all
               // for commands without a file)
  Delay,       // wait `delayMs` before handling the request
  BigHeaders,  // put a `bytes`-long header in front of the XRS_ fields
};

struct Fault {
  std::string command;  // "CHECKOUT", ...
  std::string object;   // XRQ_OBJECT to match; empty matches every request
  FaultMode mode = FaultMode::Refuse;
  std::string code = "99";
  std::string message;
  std::optional<uint64_t> bytes;  // ShortBody/CloseEarly default: half the file;
                                  // BigHeaders default: 8192
  int delayMs = 0;
  int times = 0;  // how many requests it applies to; 0 = until cleared
};

// Parses "refuse", "short", "close", "delay", "big_headers".
std::optional<FaultMode> FaultModeFromName(const std::string& name);

struct ReceivedRequest {
  std::string command;
  std::map<std::string, std::string> fields;  // decoded
  std::map<std::string, std::string> raw;
  uint64_t bodySize = 0;
  std::string at;
};

class Faults {
 public:
  void Add(Fault fault);
  void Clear();
  // The first fault that matches, counting one use of it.
  std::optional<Fault> Take(const AdaptorRequest& request);
  std::vector<Fault> List();

  void Record(const AdaptorRequest& request);
  std::optional<ReceivedRequest> Last(const std::string& command);

 private:
  std::mutex mutex_;
  std::vector<Fault> faults_;
  std::map<std::string, ReceivedRequest> last_;
};

}  // namespace devserver
