#include "common/win/file_checksum.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>

#include "common/win/text.h"
#include "tests/win/child_process.h"

namespace edms::win {
namespace {

TEST(GetFileChecksum, Md5OfTheWholeFileInUpperCase) {
  const struct {
    std::string content;
    const char* md5;
  } cases[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {std::string(1000000, 'a'), "7707D6AE4E027C70EEA2A935C2296F21"},  // many reads
  };
  const std::string path = test::TempPath("checksum.bin");
  for (const auto& c : cases) {
    std::ofstream(Widen(path).c_str(), std::ios::binary) << c.content;
    EXPECT_EQ(GetFileChecksum(path), std::string(c.md5)) << c.content.size();
  }
  DeleteFileW(Widen(path).c_str());
  EXPECT_EQ(GetFileChecksum(path), std::nullopt);
}

}  // namespace
}  // namespace edms::win
