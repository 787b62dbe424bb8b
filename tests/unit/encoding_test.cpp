#include "common/encoding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace edms {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(HexEncodeUtf8, KnownValues) {
  struct Case {
    std::string text;
    std::string hex;
  } cases[] = {
      {"", ""},
      {"abc", "616263"},
      {"\xC3\xA9", "c3a9"},                          // é
      {"\xED\x95\x9C\xEA\xB8\x80", "ed959ceab880"},  // 한글
      {std::string("\x00\x0F\xF0\xFF", 4), "000ff0ff"},
      {"C:\\Work\\a b.txt", "433a5c576f726b5c6120622e747874"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HexEncodeUtf8(c.text), c.hex) << c.hex;
    EXPECT_EQ(HexDecodeUtf8(c.hex), SanitizeUtf8(c.text)) << c.hex;
  }
}

TEST(HexDecodeUtf8, RoundTripsValidText) {
  const std::string texts[] = {
      "",
      "plain ascii & symbols =%+",
      "\xEB\xB3\xB4\xEA\xB3\xA0\xEC\x84\x9C \xEC\xB5\x9C\xEC\xA2\x85.docx",  // 보고서 최종.docx
      "\xF0\x9F\x93\x84 emoji",
      std::string(5000, 'x') + "\xEC\x9D\xB4",  // longer than any fixed buffer
  };
  for (const auto& text : texts) {
    EXPECT_EQ(HexDecodeUtf8(HexEncodeUtf8(text)), text);
  }
}

TEST(HexDecodeUtf8, MalformedInput) {
  struct Case {
    const char* name;
    std::string hex;
    std::string expected;
  } cases[] = {
      {"upper-case digits", "C3A9", "\xC3\xA9"},
      {"odd length keeps whole pairs", "6162F", "ab"},
      {"single digit", "6", ""},
      {"non-hex pair stops decoding", "61zz62", "a"},
      {"non-hex second digit", "616g62", "a"},
      {"blank stops decoding", "61 62", "a"},
      {"invalid byte", "ff", kFffd},
      {"truncated sequence", "c3", kFffd},
      {"truncated then ascii", "e28241", kFffd + "A"},
      {"overlong slash", "c0af", kFffd + kFffd},
      {"surrogate", "eda080", kFffd + kFffd + kFffd},
      {"above U+10FFFF", "f4908080", kFffd + kFffd + kFffd + kFffd},
      {"stray continuation", "80" "61", kFffd + "a"},
      {"sequence cut by odd end", "ed959", kFffd},
  };
  for (const auto& c : cases) {
    const std::string decoded = HexDecodeUtf8(c.hex);
    EXPECT_EQ(decoded, c.expected) << c.name;
    EXPECT_TRUE(IsValidUtf8(decoded)) << c.name;
  }
}

TEST(HexDecodeUtf8, OddLengthInputIsNotReadPastItsEnd) {
  // An exactly sized heap block without terminator: ASan reports any read beyond it.
  for (const char* text : {"6", "616", "61626"}) {
    const size_t size = std::strlen(text);
    std::unique_ptr<char[]> block(new char[size]);
    std::memcpy(block.get(), text, size);
    const std::string decoded = HexDecodeUtf8(std::string_view(block.get(), size));
    EXPECT_EQ(decoded.size(), size / 2) << text;
  }
}

TEST(FormEncode, EncodesEveryByte) {
  struct Case {
    std::string text;
    std::string encoded;
  } cases[] = {
      {"", ""},
      {"616263", "%36%31%36%32%36%33"},
      {"a b", "%61+%62"},
      {"\xFF&=", "%ff%26%3d"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormEncode(c.text), c.encoded);
    EXPECT_EQ(FormDecode(c.encoded), c.text);
  }
}

TEST(FormEncode, AccentedValueTravelsAsHexOfItsUtf8Bytes) {
  // No code-page round trip: é is its UTF-8 bytes c3 a9, never a replacement character.
  EXPECT_EQ(FormEncode(HexEncodeUtf8("\xC3\xA9")), "%63%33%61%39");
}

TEST(PercentEncode, KeepsOnlyUnreservedCharacters) {
  EXPECT_EQ(PercentEncode("alice-1.b_c~"), "alice-1.b_c~");
  EXPECT_EQ(PercentEncode("a b&c=d?e#f/g%+"), "a%20b%26c%3Dd%3Fe%23f%2Fg%25%2B");
  EXPECT_EQ(PercentEncode("\xED\x99\x8D"), "%ED%99%8D");  // 홍
}

TEST(FormDecode, KeepsIncompleteEscapes) {
  struct Case {
    std::string encoded;
    std::string text;
  } cases[] = {
      {"%C3%A9", "\xC3\xA9"}, {"100%", "100%"}, {"%6", "%6"},
      {"%zz1", "%zz1"},       {"a+b%2B", "a b+"}, {"%%41", "%A"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormDecode(c.encoded), c.text) << c.encoded;
}

}  // namespace
}  // namespace edms
