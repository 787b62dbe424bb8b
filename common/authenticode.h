// What an Authenticode signature of a Windows program covers and claims, read from the bytes:
// the ranges of the file its image hash is computed over and where the signature lies (from
// the PE headers), and the digest its SpcIndirectDataContent states. The Win32 side reads
// the file, hashes and verifies (common/win/authenticode.h); nothing here trusts the bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace edms {

struct ByteRange {
  uint64_t offset = 0;
  uint64_t size = 0;
  bool operator==(const ByteRange& o) const { return offset == o.offset && size == o.size; }
};

// The first bytes of a file that ReadPeSignatureLayout needs at most.
inline constexpr std::size_t kPeHeadBytes = 64 * 1024;

enum class PeSignatureState { kUnsigned, kMalformed, kSigned };

struct PeSignatureLayout {
  PeSignatureState state = PeSignatureState::kMalformed;
  // kSigned: what the image hash covers, in file order: everything but the checksum field,
  // the certificate table's directory entry and the certificate table.
  std::vector<ByteRange> hashed;
  ByteRange table;  // kSigned: the certificate table, which must end the file
};

// Reads a PE32 or PE32+ file's headers from `head` (its first bytes, up to kPeHeadBytes) of a
// file of `fileSize` bytes. kUnsigned: a program without a certificate table; kMalformed: no
// program, headers beyond `head`, or a table that lies outside the file or is followed by
// other bytes (a signature says nothing about bytes after it).
PeSignatureLayout ReadPeSignatureLayout(std::string_view head, uint64_t fileSize);

// Where the PKCS#7 signature of the first WIN_CERTIFICATE lies, from the table's first 8
// bytes; nullopt unless it is a revision 2 PKCS_SIGNED_DATA entry that fits in the table.
std::optional<ByteRange> SignatureBlobIn(std::string_view tableHead, const ByteRange& table);

enum class DigestAlgorithm { kSha256, kSha384, kSha512 };

// The byte length of the algorithm's digest.
std::size_t DigestBytes(DigestAlgorithm algorithm);

// The algorithm of a dotted object identifier ("2.16.840.1.101.3.4.2.1"); nullopt for any
// other, among them SHA-1 and MD5, which are not accepted.
std::optional<DigestAlgorithm> DigestAlgorithmOfOid(std::string_view oid);

struct IndirectData {
  DigestAlgorithm algorithm = DigestAlgorithm::kSha256;
  std::string digest;      // the image hash the signer vouches for
  std::string signedPart;  // what the signer's messageDigest is computed over: the content of
                           // the outer SEQUENCE, without its tag and length
};

// Reads a DER SpcIndirectDataContent (a SEQUENCE, as a signed message's content gives it)
// that states a PE image (SPC_PE_IMAGE_DATAOBJ) and its digest. Nullopt for anything else:
// malformed DER, another kind of data, an algorithm not accepted, a digest of the wrong length,
// bytes after the SEQUENCE.
std::optional<IndirectData> ReadIndirectData(std::string_view der);

// The DER SubjectPublicKeyInfo (tag and length included) of a DER X.509 certificate, as its
// bytes are in the certificate: what a signer pin is computed over. Nullopt for malformed DER.
std::optional<std::string_view> ReadSubjectPublicKeyInfo(std::string_view certificate);

// The content of a DER OCTET STRING that is the whole of `der` (a messageDigest attribute's
// value); nullopt for anything else.
std::optional<std::string> ReadDerOctetString(std::string_view der);

}  // namespace edms
