#include "common/win/early_flush.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/win/handles.h"

namespace edms::win {
namespace {

std::wstring ScratchFile() {
  wchar_t dir[MAX_PATH + 1] = {};
  wchar_t path[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, dir);
  GetTempFileNameW(dir, L"efl", 0, path);
  return path;
}

// Writes `blocks` blocks of `block` bytes, reporting each to the early flush; the file must
// come out whole whether or not flushes ran beside the writes.
TEST(EarlyFlush, FlushesOnlyOnceAStepIsWrittenAndTheFileComesOutWhole) {
  struct Case {
    const char* name;
    size_t block;
    int blocks;
    bool flushes;
  };
  const std::vector<Case> cases = {
      {"under one step: no thread, no flush", 1000, 4, false},
      {"many steps", 4096, 64, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring path = ScratchFile();
    UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    std::string expected;
    {
      EarlyFlush flush(file.get(), 8192);
      for (int i = 0; i < c.blocks; ++i) {
        const std::string data(c.block, static_cast<char>('a' + i % 26));
        DWORD wrote = 0;
        ASSERT_TRUE(WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &wrote, nullptr));
        expected += data;
        flush.Wrote(expected.size());
      }
      // The flush runs beside the writes. Below a step no thread exists, so nothing can come.
      EXPECT_EQ(flush.WaitForFlush(std::chrono::milliseconds(c.flushes ? 10000 : 0)), c.flushes);
      flush.Stop();
    }
    file.reset();
    UniqueKernelHandle in(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(in);
    std::string got(expected.size() + 1, '\0');
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(in.get(), &got[0], static_cast<DWORD>(got.size()), &read, nullptr));
    got.resize(read);
    EXPECT_EQ(got, expected);
    in.reset();
    DeleteFileW(path.c_str());
  }
}

}  // namespace
}  // namespace edms::win
