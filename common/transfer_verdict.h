// How a download that wrote its body into a scratch file ended, judged the same way by every
// program: the reply's announced size, the body's own length and what reached the disk.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace edms {

// XRS_FILESIZE as a byte count: decimal digits only, blanks around them allowed. nullopt for
// anything else (absent, negative, signs, other characters, beyond 64 bits): such a reply says
// nothing a body can be held to, and an empty file must never pass for the document.
std::optional<uint64_t> ParseAnnouncedSize(std::string_view text);

// The Content-Length the reply announced; nullopt when it announced none (chunked or
// closed-delimited bodies) or none that is a number.
std::optional<uint64_t> ContentLength(std::string_view rawHeaders);

// What is known once the exchange of a file command has ended with the server's "00".
struct TransferFacts {
  bool badSize = false;       // XRS_FILESIZE was no byte count: nothing was written
  bool closed = true;         // the scratch file was flushed and closed
  uint64_t written = 0;       // bytes in the scratch file
  uint64_t announced = 0;     // XRS_FILESIZE
  bool stopped = false;       // the reading stopped early (the announced size reached, or a cancel)
  std::optional<uint64_t> contentLength;
  uint64_t bodyBytes = 0;     // body bytes received
};

enum class TransferVerdict {
  kComplete,   // the file may take its name
  kBadSize,    // "Network error occured."
  kNotClosed,  // the data may be lost: "Unknown error occured."
  kCutOff,     // the body ended before its own Content-Length: the peer went away
  kShort,      // not the bytes XRS_FILESIZE announced: "Network error occured."
};

TransferVerdict JudgeTransfer(const TransferFacts& facts);

}  // namespace edms
