// Fault injection for tests, and a record of the last request each command received.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "devserver/adaptor_request.h"

namespace devserver {

enum class FaultMode {
  Refuse,      // reply with the given code and message (and XRS_FILESIZE `bytes`, when
               // given); the command is not run
  ShortBody,   // XRS_FILESIZE announces the whole file, only `bytes` of it are sent
  CloseEarly,  // send `bytes` of the body, then close the connection (no reply at all
               // for commands without a file)
  Delay,       // wait `delayMs` before handling the request
  BigHeaders,  // put a `bytes`-long header in front of the XRS_ fields
  Hold,        // send the headers, then `bytes` (default 1) of the body a second until
               // released (or `delayMs`, default 120 s, has passed), then the rest at once
};

struct Fault {
  std::string command;  // "CHECKOUT", ...
  std::string object;   // XRQ_OBJECT to match; empty matches every request
  FaultMode mode = FaultMode::Refuse;
  std::string code = "99";
  std::string message;
  std::optional<uint64_t> bytes;  // ShortBody/CloseEarly default: half the file;
                                  // BigHeaders default: 8192; Hold: bytes a second
  int delayMs = 0;
  int times = 0;  // how many requests it applies to; 0 = until cleared
  uint64_t holdTicket = 0;  // set by Faults::Add: a release after that lets a held reply go
};

// Parses "refuse", "short", "close", "delay", "big_headers", "hold".
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
  // Removes every fault and releases every held reply.
  void Clear();
  // Lets every reply that is held now go on.
  void Release();
  // True once Release or Clear has come after the fault carrying `ticket` was added.
  bool WaitReleased(uint64_t ticket, std::chrono::milliseconds wait);
  // The first fault that matches, counting one use of it.
  std::optional<Fault> Take(const AdaptorRequest& request);
  std::vector<Fault> List();

  void Record(const AdaptorRequest& request);
  std::optional<ReceivedRequest> Last(const std::string& command);

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  uint64_t releases_ = 0;
  std::vector<Fault> faults_;
  std::map<std::string, ReceivedRequest> last_;
};

}  // namespace devserver
