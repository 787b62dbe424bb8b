#include "common/win/name_rule.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace edms::win {
namespace {

TEST(NameRule, TheShellsViewOfTheTypeComesFirst) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"PATHEXT", L".COM;.EXE;.ZTRUN"));
  struct Case {
    std::string name;
    NameProblem problem;
  } cases[] = {
      {"report.pdf", NameProblem::kNone},
      {"notes.txt", NameProblem::kNone},
      {"setup.EXE", NameProblem::kDangerousType},
      {"run.exe. .", NameProblem::kDangerousType},  // Windows keeps "run.exe"
      {"link.lnk", NameProblem::kDangerousType},
      {"page.url", NameProblem::kDangerousType},
      {"app.hta", NameProblem::kDangerousType},
      {"script.vbs", NameProblem::kDangerousType},
      {"tool.ztrun", NameProblem::kDangerousType},  // only this process's PATHEXT names it
      {"con.exe", NameProblem::kDangerousType},
      {"con.txt", NameProblem::kDeviceName},
      {"a/b.txt", NameProblem::kPath},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckFileName(c.name), c.problem) << c.name;
  EXPECT_FALSE(IsDangerousType(""));
}

}  // namespace
}  // namespace edms::win
