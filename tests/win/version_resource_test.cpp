#include "common/win/file_version.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <set>
#include <string>

#include "common/win/process.h"
#include "common/win/text.h"
#include "edms_product.h"
#include "edms_programs.h"
#include "tests/win/child_process.h"

namespace edms::win {
namespace {

// The programs are built beside this test. Every one names the same publisher, product and
// version, which the agent compares before it runs an update.
TEST(VersionResources, EveryProgramCarriesTheProductFacts) {
  std::set<std::string> descriptions;
  for (const std::string file : {EDMS_PROGRAM_FILES}) {
    const std::string path = GetAgentFolder() + "\\" + file;
    auto value = [&](const char* name) { return GetVersionString(path, name).value_or("(none)"); };
    SCOPED_TRACE(file);
    EXPECT_EQ(value("CompanyName"), EDMS_COMPANY_NAME);
    EXPECT_EQ(value("ProductName"), EDMS_PRODUCT_NAME);
    EXPECT_EQ(value("FileVersion"), EDMS_VERSION);
    EXPECT_EQ(value("ProductVersion"), EDMS_VERSION);
    EXPECT_EQ(value("OriginalFilename"), file);
    const std::string description = GetVersionString(path, "FileDescription").value_or("");
    EXPECT_FALSE(description.empty());
    EXPECT_TRUE(descriptions.insert(description).second) << "shared description " << description;
  }
}

TEST(GetVersionString, NothingWithoutAVersionResourceOrValue) {
  const std::string text = test::TempPath("plain.exe");
  std::ofstream(Widen(text).c_str(), std::ios::binary) << "MZ not a program";
  const std::string agent = GetAgentFolder() + "\\Pellarin.exe";
  EXPECT_EQ(GetVersionString(text, "CompanyName"), std::nullopt);
  EXPECT_EQ(GetVersionString(GetAgentFolder() + "\\no-such.exe", "CompanyName"), std::nullopt);
  EXPECT_EQ(GetVersionString(agent, "NoSuchValue"), std::nullopt);
  DeleteFileW(Widen(text).c_str());
}

}  // namespace
}  // namespace edms::win
