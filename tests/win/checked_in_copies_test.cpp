#include "common/win/checked_in_copies.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "common/win/handles.h"
#include "common/win/text.h"

namespace edms::win {
namespace {

namespace fs = std::filesystem;
constexpr uint64_t kDay = 24ull * 3600 * 10000000;

// A fresh folder below %TEMP%, removed with everything in it afterwards.
struct Folder {
  fs::path path = fs::temp_directory_path() / ("edms-kept-" + std::to_string(GetCurrentProcessId()));
  Folder() { fs::create_directories(path); }
  ~Folder() {
    for (const auto& entry : fs::recursive_directory_iterator(path)) {
      SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(path);
  }
  std::string operator/(const std::string& name) const { return Narrow((path / Widen(name)).wstring()); }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(path)) names.insert(Narrow(entry.path().filename().wstring()));
    return names;
  }
};

// Writes `bytes` to `path`, last written `age` ago.
void Write(const std::string& path, const std::string& bytes, uint64_t age) {
  std::ofstream(fs::path(Widen(path)), std::ios::binary) << bytes;
  UniqueKernelHandle file(
      CreateFileW(Widen(path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  const uint64_t at = NowFileTicks() - age;
  FILETIME time{static_cast<DWORD>(at), static_cast<DWORD>(at >> 32)};
  ASSERT_TRUE(file && SetFileTime(file.get(), nullptr, nullptr, &time)) << path;
}

TEST(CheckedInCopies, OnlyCopiesPastTheirDaysAreRemoved) {
  Folder folder;
  struct Case {
    std::string name;
    uint64_t age;
    DWORD attributes;
    bool held, removed;
  } cases[] = {
      {"old(1) v1.1.docx", 8 * kDay, FILE_ATTRIBUTE_NORMAL, false, true},
      {"young(2) v1.1.docx", 6 * kDay, FILE_ATTRIBUTE_NORMAL, false, false},
      {"read-only(3) v1.1.docx", 30 * kDay, FILE_ATTRIBUTE_READONLY, false, false},
      {"open in an editor(4) v1.1.docx", 30 * kDay, FILE_ATTRIBUTE_NORMAL, true, false},
  };
  UniqueKernelHandle held;
  std::set<std::string> left = {"a folder"};
  for (const auto& c : cases) {
    Write(folder / c.name, "kept", c.age);
    SetFileAttributesW(Widen(folder / c.name).c_str(), c.attributes);
    if (c.held) held.reset(CreateFileW(Widen(folder / c.name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    if (!c.removed) left.insert(c.name);
  }
  ASSERT_TRUE(CreateDirectoryW(Widen(folder / "a folder").c_str(), nullptr));

  EXPECT_EQ(RemoveExpiredCheckedInCopies(folder / "", 7, NowFileTicks()), 1u);
  EXPECT_EQ(folder.Names(), left);
}

TEST(CheckedInCopies, KeepingNeverReplacesAFileAndCountsFromNow) {
  Folder work;
  const std::string kept = work / "Checked in";
  DWORD error = 0;
  for (const std::string edit : {"first edit", "second edit"}) {
    Write(work / "Report(42).docx", edit, 30 * kDay);
    EXPECT_TRUE(KeepCheckedInCopy(work / "Report(42).docx", kept, "1.3", error)) << error;
  }
  EXPECT_EQ(work.Names(), std::set<std::string>{"Checked in"});
  for (const auto& [name, edit] :
       {std::pair{"Report(42) v1.3.docx", "first edit"}, {"Report(42) v1.3 (2).docx", "second edit"}}) {
    std::ifstream in(fs::path(Widen(kept + "\\" + name)), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), edit) << name;
  }
  // The days count from the check-in, not from the user's last save.
  EXPECT_EQ(RemoveExpiredCheckedInCopies(kept, 7, NowFileTicks()), 0u);
}

}  // namespace
}  // namespace edms::win
