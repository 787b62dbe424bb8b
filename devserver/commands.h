// The eight adaptor commands over the store. Each returns the adaptor's reply:
// XRS_RTNCODE, XRS_CODEDESC (hex-encoded on the wire), XRS_FILESIZE and the file.
#pragma once
#include <optional>
#include <string>

#include "devserver/adaptor_request.h"
#include "devserver/store.h"
#include "devserver/unique_fd.h"

namespace devserver {

struct AdaptorReply {
  std::string code = "00";
  std::string desc;                      // UTF-8; hex-encoded when sent
  std::optional<std::string> fileSize;   // XRS_FILESIZE exactly as sent
  UniqueFd file;                         // body, when the command returns a file
  uint64_t size = 0;

  static AdaptorReply Refusal(const char* code, std::string message);
};

// Runs one parsed request. Never throws: a storage failure is a refusal with code 99.
// A CHECKIN's uploaded file is adopted into the store on success and left in place
// otherwise (the caller removes it).
AdaptorReply RunCommand(Store& store, const AdaptorRequest& request);

}  // namespace devserver
