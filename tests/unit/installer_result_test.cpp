#include "apply/installer_result.h"

#include <gtest/gtest.h>

#include "launcher/exit_code.h"
#include "launcher/run_log_writer.h"

namespace updater {
namespace {

// Each code the run tells apart, with what each of its readers makes of it: patched or not, its
// rank among exit codes, and the run log's words.
struct ResultCase {
  uint32_t result;
  InstallerResultKind kind;
  bool patched;
  int rank;
  const wchar_t* words;
};

TEST(InstallerResult, EveryReaderAgreesOnTheClassification) {
  const ResultCase cases[] = {
      {0, InstallerResultKind::kSuccess, true, 0, L"success"},
      {3010, InstallerResultKind::kRestartRequired, true, 1, L"success, restart required"},
      {1641, InstallerResultKind::kRestartStarted, true, 2, L"success, restart started"},
      {1618, InstallerResultKind::kAnotherInstall, false, 4,
       L"failed: another installation is running"},
      {1603, InstallerResultKind::kFailed, false, 5, L"failed: fatal error during installation"},
      {1602, InstallerResultKind::kFailed, false, 5, L"failed: cancelled by the user"},
      {1, InstallerResultKind::kFailed, false, 5, L"failed"},
      {3011, InstallerResultKind::kFailed, false, 5, L"failed"},
  };
  for (const ResultCase& c : cases) {
    EXPECT_EQ(ClassifyInstallerResult(c.result), c.kind) << c.result;
    EXPECT_EQ(IsPatched(c.result), c.patched) << c.result;
    EXPECT_EQ(ExitCodeRank(c.result), c.rank) << c.result;
    EXPECT_EQ(DescribeInstallerResult(c.result), c.words) << c.result;
  }
  // 1642 from the installer is a failure to the classification, and ranks as "not applicable".
  EXPECT_EQ(ClassifyInstallerResult(1642), InstallerResultKind::kFailed);
  EXPECT_EQ(ExitCodeRank(1642), 3);
}

TEST(InstallerResult, FailureKindsNameTheirMessages) {
  EXPECT_EQ(FailureMessage(PayloadFailure::kNone), 0u);
  EXPECT_EQ(FailureMessage(PayloadFailure::kOwnStep), 300u);
  EXPECT_EQ(FailureMessage(PayloadFailure::kNoTargetInstalled), 307u);
}

}  // namespace
}  // namespace updater
