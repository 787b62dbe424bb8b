#include "common/authenticode.h"

namespace edms {
namespace {

// Offsets in the PE/COFF format of Windows programs.
constexpr std::size_t kDosPeOffsetField = 0x3C;
constexpr std::size_t kCoffHeaderBytes = 20;  // after the 4-byte "PE\0\0"
constexpr std::size_t kOptionalSizeField = 16;  // in the COFF header
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr std::size_t kChecksumField = 64;  // in the optional header, both kinds
constexpr std::size_t kCertificateDirectory = 4;
constexpr std::size_t kDirectoryEntryBytes = 8;
constexpr uint16_t kWinCertRevision2 = 0x0200;
constexpr uint16_t kWinCertPkcsSignedData = 0x0002;
constexpr std::size_t kWinCertHeaderBytes = 8;

uint16_t Le16(std::string_view b, std::size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
uint32_t Le32(std::string_view b, std::size_t at) {
  return static_cast<uint32_t>(Le16(b, at)) | static_cast<uint32_t>(Le16(b, at + 2)) << 16;
}

// One DER element: its tag, and its content within the input.
struct Der {
  uint8_t tag = 0;
  std::string_view whole;  // tag, length and content
  std::string_view content;
  std::string_view rest;  // what follows the element
};

// Definite lengths only, short tags only: DER allows nothing else here.
std::optional<Der> ReadDer(std::string_view in) {
  if (in.size() < 2) return std::nullopt;
  Der d;
  d.tag = static_cast<uint8_t>(in[0]);
  if ((d.tag & 0x1F) == 0x1F) return std::nullopt;
  std::size_t at = 2;
  uint64_t length = static_cast<uint8_t>(in[1]);
  if (length & 0x80) {
    const std::size_t count = length & 0x7F;
    if (count == 0 || count > 4 || in.size() < 2 + count) return std::nullopt;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = length << 8 | static_cast<uint8_t>(in[2 + i]);
    at += count;
  }
  if (length > in.size() - at) return std::nullopt;
  d.whole = in.substr(0, at + static_cast<std::size_t>(length));
  d.content = in.substr(at, static_cast<std::size_t>(length));
  d.rest = in.substr(at + static_cast<std::size_t>(length));
  return d;
}

std::optional<Der> ReadTag(std::string_view in, uint8_t tag) {
  std::optional<Der> d = ReadDer(in);
  if (!d || d->tag != tag) return std::nullopt;
  return d;
}

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kOid = 0x06;
constexpr uint8_t kOctetString = 0x04;

// 1.3.6.1.4.1.311.2.1.15, SPC_PE_IMAGE_DATAOBJ.
constexpr char kPeImageDataOid[] = "\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x0F";

struct KnownDigest {
  DigestAlgorithm algorithm;
  const char* dotted;
  std::string_view der;  // the OID's content bytes
  std::size_t bytes;
};
const KnownDigest kDigests[] = {
    {DigestAlgorithm::kSha256, "2.16.840.1.101.3.4.2.1", std::string_view("\x60\x86\x48\x01\x65\x03\x04\x02\x01", 9), 32},
    {DigestAlgorithm::kSha384, "2.16.840.1.101.3.4.2.2", std::string_view("\x60\x86\x48\x01\x65\x03\x04\x02\x02", 9), 48},
    {DigestAlgorithm::kSha512, "2.16.840.1.101.3.4.2.3", std::string_view("\x60\x86\x48\x01\x65\x03\x04\x02\x03", 9), 64},
};

}  // namespace

PeSignatureLayout ReadPeSignatureLayout(std::string_view head, uint64_t fileSize) {
  PeSignatureLayout layout;
  if (head.size() > fileSize) return layout;
  if (head.size() < kDosPeOffsetField + 4 || head[0] != 'M' || head[1] != 'Z') return layout;
  const std::size_t pe = Le32(head, kDosPeOffsetField);
  const std::size_t coff = pe + 4;
  if (pe > kPeHeadBytes || coff + kCoffHeaderBytes + 2 > head.size()) return layout;
  if (head.substr(pe, 4) != std::string_view("PE\0\0", 4)) return layout;
  const std::size_t optional = coff + kCoffHeaderBytes;
  const std::size_t optionalEnd = optional + Le16(head, coff + kOptionalSizeField);
  std::size_t directories = 0;
  std::size_t countField = 0;
  switch (Le16(head, optional)) {
    case kPe32Magic: countField = optional + 92; directories = optional + 96; break;
    case kPe32PlusMagic: countField = optional + 108; directories = optional + 112; break;
    default: return layout;
  }
  if (directories > optionalEnd || optionalEnd > head.size()) return layout;
  const uint64_t checksum = optional + kChecksumField;
  const uint32_t directoryCount = Le32(head, countField);
  const std::size_t entry = directories + kCertificateDirectory * kDirectoryEntryBytes;
  if (directoryCount <= kCertificateDirectory) {
    layout.state = PeSignatureState::kUnsigned;
    return layout;
  }
  if (entry + kDirectoryEntryBytes > optionalEnd) return layout;
  // The certificate table's entry holds a file offset, not an address in memory.
  const uint64_t tableOffset = Le32(head, entry);
  const uint64_t tableSize = Le32(head, entry + 4);
  if (tableOffset == 0 && tableSize == 0) {
    layout.state = PeSignatureState::kUnsigned;
    return layout;
  }
  if (tableSize < kWinCertHeaderBytes || tableOffset < entry + kDirectoryEntryBytes ||
      tableOffset + tableSize != fileSize) {
    return layout;
  }
  layout.state = PeSignatureState::kSigned;
  layout.hashed = {{0, checksum},
                   {checksum + 4, entry - (checksum + 4)},
                   {entry + kDirectoryEntryBytes, tableOffset - (entry + kDirectoryEntryBytes)}};
  layout.table = {tableOffset, tableSize};
  return layout;
}

std::optional<ByteRange> SignatureBlobIn(std::string_view tableHead, const ByteRange& table) {
  if (tableHead.size() < kWinCertHeaderBytes) return std::nullopt;
  const uint32_t length = Le32(tableHead, 0);
  if (Le16(tableHead, 4) != kWinCertRevision2 || Le16(tableHead, 6) != kWinCertPkcsSignedData) return std::nullopt;
  if (length <= kWinCertHeaderBytes || length > table.size) return std::nullopt;
  return ByteRange{table.offset + kWinCertHeaderBytes, length - kWinCertHeaderBytes};
}

std::size_t DigestBytes(DigestAlgorithm algorithm) {
  for (const KnownDigest& d : kDigests)
    if (d.algorithm == algorithm) return d.bytes;
  return 0;
}

std::optional<DigestAlgorithm> DigestAlgorithmOfOid(std::string_view oid) {
  for (const KnownDigest& d : kDigests)
    if (oid == d.dotted) return d.algorithm;
  return std::nullopt;
}

std::optional<IndirectData> ReadIndirectData(std::string_view der) {
  // SpcIndirectDataContent ::= SEQUENCE { data SpcAttributeTypeAndOptionalValue, messageDigest DigestInfo }
  const std::optional<Der> outer = ReadTag(der, kSequence);
  if (!outer || !outer->rest.empty()) return std::nullopt;
  const std::optional<Der> data = ReadTag(outer->content, kSequence);
  if (!data) return std::nullopt;
  const std::optional<Der> type = ReadTag(data->content, kOid);
  if (!type || type->content != std::string_view(kPeImageDataOid, sizeof kPeImageDataOid - 1)) return std::nullopt;
  // DigestInfo ::= SEQUENCE { AlgorithmIdentifier, OCTET STRING }
  const std::optional<Der> info = ReadTag(data->rest, kSequence);
  if (!info || !info->rest.empty()) return std::nullopt;
  const std::optional<Der> algorithm = ReadTag(info->content, kSequence);
  if (!algorithm) return std::nullopt;
  const std::optional<Der> algorithmOid = ReadTag(algorithm->content, kOid);
  const std::optional<Der> digest = ReadTag(algorithm->rest, kOctetString);
  if (!algorithmOid || !digest || !digest->rest.empty()) return std::nullopt;
  for (const KnownDigest& known : kDigests) {
    if (algorithmOid->content != known.der) continue;
    if (digest->content.size() != known.bytes) return std::nullopt;
    return IndirectData{known.algorithm, std::string(digest->content), std::string(outer->content)};
  }
  return std::nullopt;
}

std::optional<std::string_view> ReadSubjectPublicKeyInfo(std::string_view certificate) {
  // Certificate ::= SEQUENCE { TBSCertificate ::= SEQUENCE { [0] version OPTIONAL, serialNumber,
  //   signature, issuer, validity, subject, subjectPublicKeyInfo, ... }, ... }
  const std::optional<Der> outer = ReadTag(certificate, kSequence);
  if (!outer) return std::nullopt;
  const std::optional<Der> tbs = ReadTag(outer->content, kSequence);
  if (!tbs) return std::nullopt;
  std::string_view rest = tbs->content;
  constexpr uint8_t kVersionTag = 0xA0;
  if (!rest.empty() && static_cast<uint8_t>(rest[0]) == kVersionTag) {
    const std::optional<Der> version = ReadDer(rest);
    if (!version) return std::nullopt;
    rest = version->rest;
  }
  for (int skip = 0; skip < 5; ++skip) {  // serialNumber, signature, issuer, validity, subject
    const std::optional<Der> field = ReadDer(rest);
    if (!field) return std::nullopt;
    rest = field->rest;
  }
  const std::optional<Der> key = ReadTag(rest, kSequence);
  if (!key) return std::nullopt;
  return key->whole;
}

std::optional<std::string> ReadDerOctetString(std::string_view der) {
  const std::optional<Der> d = ReadTag(der, kOctetString);
  if (!d || !d->rest.empty()) return std::nullopt;
  return std::string(d->content);
}

}  // namespace edms
