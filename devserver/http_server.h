// The HTTP side: accepts connections (one thread each), over TLS when given a certificate,
// reads requests with a bounded header size, routes them (adaptor, admin, notice page, static
// files) and writes the replies, streaming uploads to disk and downloads from disk.
#pragma once
#include <cstdint>
#include <string>

#include "devserver/context.h"

namespace boost::asio::ssl {
class context;
}

namespace devserver {

// Largest request header block accepted; a bigger one is refused with code 93.
inline constexpr uint32_t kHeaderLimit = 32 * 1024;
// Largest form body accepted (form values are short hex texts).
inline constexpr uint64_t kFormBodyLimit = 1024 * 1024;
// Largest admin body accepted: it may carry an update package in base64.
inline constexpr uint64_t kAdminBodyLimit = 16 * 1024 * 1024;

// Listens on host:port (port 0 picks a free one) and serves until the process ends: over TLS
// with `tls` (which outlives the call), else plain HTTP. Prints "devserver listening on
// http://HOST:PORT" (https with TLS) once ready. Returns non-zero when it cannot listen.
int Serve(ServerContext& ctx, const std::string& host, uint16_t port, boost::asio::ssl::context* tls = nullptr);

}  // namespace devserver
