#include "common/win/checked_in_copies.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "common/win/handles.h"
#include "common/win/process.h"
#include "common/win/text.h"

namespace edms::win {
namespace {

constexpr uint64_t kDay = 24ull * 3600 * 10000000;
namespace fs = std::filesystem;

// A fresh folder below %TEMP%, removed with everything in it afterwards.
class Folder {
 public:
  Folder() {
    static int counter = 0;
    path_ = fs::temp_directory_path() / ("edms-kept-" + std::to_string(GetCurrentProcessId()) + "-" +
                                         std::to_string(counter++));
    fs::create_directories(path_);
  }
  ~Folder() {
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(path_, ignored)) {
      SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(path_, ignored);
  }
  std::string Path(const std::string& name = {}) const {
    return Narrow((name.empty() ? path_ : path_ / Widen(name)).wstring());
  }
  std::set<std::string> Names(const std::string& sub = {}) const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(Widen(Path(sub)))) names.insert(Narrow(entry.path().filename().wstring()));
    return names;
  }

 private:
  fs::path path_;
};

void Write(const std::string& path, const std::string& bytes, uint64_t lastWrite = 0) {
  std::ofstream(fs::path(Widen(path)), std::ios::binary) << bytes;
  if (lastWrite == 0) return;
  UniqueKernelHandle file(CreateFileW(Widen(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  FILETIME time{static_cast<DWORD>(lastWrite), static_cast<DWORD>(lastWrite >> 32)};
  ASSERT_TRUE(file && SetFileTime(file.get(), nullptr, nullptr, &time)) << path;
}

std::string Read(const std::string& path) {
  std::ifstream in(fs::path(Widen(path)), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CheckedInCopies, OnlyCopiesPastTheirDaysAreRemoved) {
  Folder folder;
  const uint64_t now = NowFileTicks();
  struct Case {
    std::string name;
    uint64_t age;
    bool readOnly, held, removed;
  } cases[] = {
      {"old(1) v1.1.docx", 8 * kDay, false, false, true},
      {"older(2) v2.0.txt", 400 * kDay, false, false, true},
      {"young(3) v1.1.docx", 6 * kDay, false, false, false},
      {"just kept(4) v1.1.docx", 7 * kDay - 600 * 10000000ull, false, false, false},
      {"read-only(5) v1.1.docx", 30 * kDay, true, false, false},
      {"open in an editor(6) v1.1.docx", 30 * kDay, false, true, false},
  };
  UniqueKernelHandle held;
  for (const auto& c : cases) {
    Write(folder.Path(c.name), "kept", now - c.age);
    if (c.readOnly) SetFileAttributesW(Widen(folder.Path(c.name)).c_str(), FILE_ATTRIBUTE_READONLY);
    if (c.held) {
      held.reset(CreateFileW(Widen(folder.Path(c.name)).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(held);
    }
  }
  ASSERT_TRUE(CreateDirectoryW(Widen(folder.Path("a folder")).c_str(), nullptr));
  Write(folder.Path("a folder\\deep(7) v1.0.txt"), "kept", now - 30 * kDay);

  EXPECT_EQ(RemoveExpiredCheckedInCopies(folder.Path(), 7, now), 2u);
  std::set<std::string> left = {"a folder"};
  for (const auto& c : cases) {
    if (!c.removed) left.insert(c.name);
  }
  EXPECT_EQ(folder.Names(), left);
  EXPECT_EQ(folder.Names("a folder"), std::set<std::string>{"deep(7) v1.0.txt"});
  EXPECT_EQ(RemoveExpiredCheckedInCopies(folder.Path("missing"), 7, now), 0u);
}

TEST(CheckedInCopies, KeepingNeverReplacesAFileAndCountsFromNow) {
  Folder work;
  const std::string kept = work.Path("Checked in");
  const uint64_t longAgo = NowFileTicks() - 30 * kDay;
  DWORD error = 0;
  Write(work.Path("Report(42).docx"), "first edit", longAgo);
  EXPECT_EQ(KeepCheckedInCopy(work.Path("Report(42).docx"), kept, "1.3", error), kept + "\\Report(42) v1.3.docx");
  Write(work.Path("Report(42).docx"), "second edit", longAgo);
  EXPECT_EQ(KeepCheckedInCopy(work.Path("Report(42).docx"), kept, "1.3", error),
            kept + "\\Report(42) v1.3 (2).docx");

  EXPECT_EQ(work.Names(), std::set<std::string>{"Checked in"});
  EXPECT_EQ(Read(kept + "\\Report(42) v1.3.docx"), "first edit");
  EXPECT_EQ(Read(kept + "\\Report(42) v1.3 (2).docx"), "second edit");
  // The days count from the check-in, not from the user's last save.
  EXPECT_EQ(RemoveExpiredCheckedInCopies(kept, 7, NowFileTicks()), 0u);
}

TEST(CheckedInCopies, ACopyThatCannotBeKeptStaysWhereItIs) {
  struct Case {
    const char* why;
    std::string folder, version;
    DWORD error;
  } cases[] = {
      {"a file holds the folder's name", "Checked in", "1.3", ERROR_DIRECTORY},
      {"the folder's parent is missing", "gone\\Checked in", "1.3", ERROR_PATH_NOT_FOUND},
      {"a version that is no name", "kept", "1\\..\\..", ERROR_INVALID_NAME},
  };
  for (const auto& c : cases) {
    Folder work;
    Write(work.Path("Checked in"), "not a folder");
    Write(work.Path("Report(42).docx"), "edits");
    DWORD error = 0;
    EXPECT_EQ(KeepCheckedInCopy(work.Path("Report(42).docx"), work.Path(c.folder), c.version, error), std::nullopt)
        << c.why;
    EXPECT_EQ(error, c.error) << c.why;
    EXPECT_EQ(Read(work.Path("Report(42).docx")), "edits") << c.why;
  }
}

}  // namespace
}  // namespace edms::win
