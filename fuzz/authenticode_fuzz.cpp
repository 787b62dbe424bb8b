#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/authenticode.h"

// Input: the first bytes of a downloaded installer, then its signature's content.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (uint64_t fileSize : {uint64_t{size}, uint64_t{size} + 4096}) {
    const edms::PeSignatureLayout layout = edms::ReadPeSignatureLayout(bytes, fileSize);
    if (layout.state != edms::PeSignatureState::kSigned) continue;
    // The hashed ranges and the table, in order, cover the file but the two excluded fields.
    uint64_t covered = 0;
    uint64_t end = 0;
    for (const edms::ByteRange& r : layout.hashed) {
      if (r.offset < end) abort();
      covered += r.size;
      end = r.offset + r.size;
    }
    if (layout.table.offset != end || end + layout.table.size != fileSize) abort();
    if (covered + 12 != end) abort();
    if (const auto blob = edms::SignatureBlobIn(bytes, layout.table)) {
      if (blob->offset + blob->size > fileSize) abort();
    }
  }
  if (const auto indirect = edms::ReadIndirectData(bytes)) {
    if (indirect->digest.size() != edms::DigestBytes(indirect->algorithm)) abort();
  }
  edms::ReadDerOctetString(bytes);
  return 0;
}
