#include "common/authenticode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace edms {
namespace {

void Put(std::string& b, std::size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
}

struct Headers {
  uint16_t magic = 0x20B;
  uint16_t optionalSize = 240;
  uint32_t directories = 16;
  uint32_t tableOffset = 0x400;
  uint32_t tableSize = 0x100;
};

// The first 0x200 bytes of a program with its PE header at 0x80, its optional header at 0x98.
std::string Head(const Headers& h) {
  std::string b(0x200, '\0');
  b.replace(0, 2, "MZ");
  Put(b, 0x3C, 0x80, 4);
  b.replace(0x80, 4, std::string("PE\0\0", 4));
  Put(b, 0x94, h.optionalSize, 2);
  Put(b, 0x98, h.magic, 2);
  const bool plus = h.magic == 0x20B;
  Put(b, 0x98 + (plus ? 108 : 92), h.directories, 4);
  const std::size_t entry = 0x98 + (plus ? 112 : 96) + 4 * 8;
  Put(b, entry, h.tableOffset, 4);
  Put(b, entry + 4, h.tableSize, 4);
  return b;
}

Headers With(void (*change)(Headers&)) {
  Headers h;
  change(h);
  return h;
}

TEST(ReadPeSignatureLayout, HashedRangesSkipChecksumEntryAndTable) {
  // The checksum at 0x98 + 64 = 0xD8; the entry at 0x98 + 112 + 32 = 0x128 (PE32+), 0x118 (PE32).
  PeSignatureLayout plus = ReadPeSignatureLayout(Head({}), 0x500);
  ASSERT_EQ(plus.state, PeSignatureState::kSigned);
  EXPECT_EQ(plus.hashed, (std::vector<ByteRange>{{0, 0xD8}, {0xDC, 0x4C}, {0x130, 0x2D0}}));
  EXPECT_EQ(plus.table, (ByteRange{0x400, 0x100}));
  const Headers pe32 = With([](Headers& h) { h.magic = 0x10B, h.optionalSize = 224; });
  EXPECT_EQ(ReadPeSignatureLayout(Head(pe32), 0x500).hashed,
            (std::vector<ByteRange>{{0, 0xD8}, {0xDC, 0x3C}, {0x120, 0x2E0}}));
}

TEST(ReadPeSignatureLayout, UnsignedAndMalformedPrograms) {
  using S = PeSignatureState;
  const struct {
    const char* what;
    std::string head;
    uint64_t fileSize;
    S state;
  } cases[] = {
      {"no table", Head(With([](Headers& h) { h.tableOffset = h.tableSize = 0; })), 0x400, S::kUnsigned},
      {"no table entry", Head(With([](Headers& h) { h.directories = 4; })), 0x500, S::kUnsigned},
      {"bytes after the table", Head({}), 0x501, S::kMalformed},
      {"table beyond the file", Head({}), 0x4FF, S::kMalformed},
      {"table inside the headers", Head(With([](Headers& h) { h.tableOffset = 0x100; })), 0x200, S::kMalformed},
      {"entry beyond the optional header", Head(With([](Headers& h) { h.optionalSize = 112; })), 0x500, S::kMalformed},
      {"unknown optional header", Head(With([](Headers& h) { h.magic = 0x107; })), 0x500, S::kMalformed},
      {"headers beyond the bytes read", Head({}).substr(0, 0x120), 0x500, S::kMalformed},
      {"not PE", Head({}).replace(0x80, 2, "NE"), 0x500, S::kMalformed},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadPeSignatureLayout(c.head, c.fileSize).state, c.state) << c.what;
}

TEST(SignatureBlobIn, FirstPkcs7EntryInsideTheTable) {
  const auto entry = [](uint32_t length, uint32_t revisionAndType) {
    std::string b(8, '\0');
    Put(b, 0, length, 4);
    Put(b, 4, revisionAndType, 4);
    return b;
  };
  const ByteRange table{0x400, 0x100};
  EXPECT_EQ(SignatureBlobIn(entry(0xF9, 0x00020200), table), (ByteRange{0x408, 0xF1}));
  EXPECT_EQ(SignatureBlobIn(entry(0x101, 0x00020200), table), std::nullopt);
  EXPECT_EQ(SignatureBlobIn(entry(0xF9, 0x00010200), table), std::nullopt);  // an X.509 entry
}

std::string Tlv(uint8_t tag, const std::string& content) {
  std::string out(1, static_cast<char>(tag));
  if (content.size() >= 0x80) out += {'\x82', static_cast<char>(content.size() >> 8)};
  return out + static_cast<char>(content.size() & 0xFF) + content;
}

const std::string kPeImage("\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x0F", 10);
const std::string kSha256("\x60\x86\x48\x01\x65\x03\x04\x02\x01", 9);
const std::string kSha512("\x60\x86\x48\x01\x65\x03\x04\x02\x03", 9);

std::string IndirectContent(const std::string& type, const std::string& algorithm, const std::string& digest,
                            const std::string& value = Tlv(0x03, std::string(1, '\0'))) {
  return Tlv(0x30, Tlv(0x06, type) + value) + Tlv(0x30, Tlv(0x30, Tlv(0x06, algorithm) + Tlv(0x05, "")) + Tlv(0x04, digest));
}

TEST(ReadIndirectData, TheImageDigestOfAPeImageOnly) {
  const std::string digest(32, '\xAB');
  const std::string content = IndirectContent(kPeImage, kSha256, digest);
  const std::optional<IndirectData> read = ReadIndirectData(Tlv(0x30, content));
  ASSERT_TRUE(read);
  EXPECT_EQ(read->algorithm, DigestAlgorithm::kSha256);
  EXPECT_EQ(read->digest, digest);
  EXPECT_EQ(read->signedPart, content);
  const std::string longer = IndirectContent(kPeImage, kSha512, std::string(64, 'x'), Tlv(0x30, std::string(300, 'p')));
  EXPECT_EQ(ReadIndirectData(Tlv(0x30, longer))->signedPart, longer);  // long-form lengths

  const struct {
    const char* what;
    std::string der;
  } refused[] = {
      {"SHA-1", Tlv(0x30, IndirectContent(kPeImage, "\x2B\x0E\x03\x02\x1A", std::string(20, 'x')))},
      {"digest of another length", Tlv(0x30, IndirectContent(kPeImage, kSha256, std::string(31, 'x')))},
      {"not a PE image", Tlv(0x30, IndirectContent(kSha256, kSha256, digest))},
      {"bytes after it", Tlv(0x30, content) + "x"},
      {"indefinite length", "\x30\x80" + content + std::string(2, '\0')},
  };
  for (const auto& c : refused) EXPECT_EQ(ReadIndirectData(c.der), std::nullopt) << c.what;
}

TEST(ReadSubjectPublicKeyInfo, TheSeventhFieldWithOrWithoutAVersion) {
  const std::string key = Tlv(0x30, Tlv(0x30, Tlv(0x06, "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x01")) + Tlv(0x03, std::string(270, 'k')));
  const std::string fields = Tlv(0x02, "\x01") + Tlv(0x30, "a") + Tlv(0x30, "i") + Tlv(0x30, "v") + Tlv(0x30, "s");
  const std::string version = Tlv(0xA0, Tlv(0x02, "\x02"));
  const auto certificate = [](const std::string& tbs) { return Tlv(0x30, Tlv(0x30, tbs) + Tlv(0x03, "sig")); };
  EXPECT_EQ(ReadSubjectPublicKeyInfo(certificate(version + fields + key + Tlv(0xA3, "ext"))), key);
  EXPECT_EQ(ReadSubjectPublicKeyInfo(certificate(fields + key)), key);
  EXPECT_EQ(ReadSubjectPublicKeyInfo(certificate(version + fields)), std::nullopt);
}

}  // namespace
}  // namespace edms
