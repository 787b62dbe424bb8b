// One HTTP reply as the connection writes it: head fields, then either a text body or
// a file streamed from disk, optionally cut short for fault injection.
#pragma once
#include <cstdint>
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "devserver/unique_fd.h"

namespace devserver {

struct HttpReply {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;  // in the order sent
  std::string body;  // used when there is no file
  UniqueFd file;
  uint64_t fileSize = 0;

  // Fault shaping. sendOnly: send at most this many body bytes. With cutConnection the
  // Content-Length still announces the whole body and the connection is closed after
  // the partial body; without it Content-Length matches what is sent.
  std::optional<uint64_t> sendOnly;
  bool cutConnection = false;
  bool dropWithoutReply = false;  // close the connection, send nothing
  bool close = false;             // close after this reply
  // Hold: the body goes out holdPiece bytes a second until the fault's ticket is released
  // or holdFor has passed.
  std::optional<uint64_t> holdTicket;
  std::chrono::milliseconds holdFor{0};
  uint64_t holdPiece = 1;

  uint64_t BodySize() const { return file.valid() ? fileSize : body.size(); }
};

}  // namespace devserver
