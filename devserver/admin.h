// The test API under /_admin/ (loopback callers only): fault injection, the last
// request of a command, and creating users, documents, notices and update packages.
// Bodies and answers are JSON.
#pragma once
#include <string>
#include <string_view>

#include "devserver/context.h"
#include "devserver/http_reply.h"

namespace devserver {

HttpReply HandleAdmin(ServerContext& ctx, std::string_view method, std::string_view path, std::string_view query,
                      const std::string& body);

// Writes `size` bytes of the test pattern (byte i is i % 251) to a new file; the same
// pattern tests regenerate to compare a download byte for byte.
bool WritePatternFile(const std::string& path, uint64_t size);

}  // namespace devserver
