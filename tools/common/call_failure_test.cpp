// What a failed call means for the run, under each rule: the report on
// standard error, and whether the run goes on or ends with status 1.
#include "call_failure.h"

#include <gtest/gtest.h>

#include <string>

namespace kvrtools {
namespace {

constexpr std::string_view kRejected = "Internal server error: '<UNDEFINED> *x' while executing";
constexpr std::string_view kLost = "Socket is not connected.";

// Settles a failed call and returns what it wrote on standard error.
std::string settleAndCapture(std::string_view errorText) {
  testing::internal::CaptureStderr();
  settleFailedCall(errorText);
  return testing::internal::GetCapturedStderr();
}

TEST(CallFailureTest, OnlyTheServersWordingIsARejection) {
  EXPECT_TRUE(isServerRejection(kRejected));
  EXPECT_FALSE(isServerRejection(kLost));
  EXPECT_FALSE(isServerRejection(""));
  EXPECT_FALSE(isServerRejection(" Internal server error:"));
}

TEST(CallFailureTest, ARejectionIsPassedOverSilentlyWithoutARule) {
  EXPECT_EQ(settleAndCapture(kRejected), "");
}

TEST(CallFailureTest, AReportedRejectionIsHeadedAndTheRunGoesOn) {
  const FailureRule rule(Rejection::kReported, "\nError while execute line\nw x\n");
  EXPECT_EQ(settleAndCapture(kRejected), "\nError while execute line\nw x\n" + std::string(kRejected) + "\n");
}

TEST(CallFailureTest, TheRuleBeforeComesBackWhenARuleGoes) {
  const FailureRule outer(Rejection::kReported);
  {
    const FailureRule inner(Rejection::kPassedOver);
    EXPECT_EQ(settleAndCapture(kRejected), "");
  }
  EXPECT_EQ(settleAndCapture(kRejected), std::string(kRejected) + "\n");
}

TEST(CallFailureTest, DuringTheStartUpALostConnectionIsReportedAndTheCallReturns) {
  const FailureRule rule(Rejection::kFailsStartUp, "login: ");
  EXPECT_EQ(settleAndCapture(kLost), "login: " + std::string(kLost) + "\n");
  EXPECT_EQ(settleAndCapture(kRejected), "");  // a rejection is passed over there
}

TEST(CallFailureTest, AnUnsentCallIsReportedEvenWhereRejectionsPassSilently) {
  const FailureRule rule(Rejection::kPassedOver, "head ");
  testing::internal::CaptureStderr();
  settleUnsentCall("too long");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "head too long\n");
}

TEST(CallFailureDeathTest, AnUnsentCallEndsTheRunOnlyUnderEndsRun) {
  EXPECT_EXIT(
      {
        const FailureRule rule(Rejection::kEndsRun);
        settleUnsentCall("too long");
      },
      testing::ExitedWithCode(1), "^too long\n$");
}

TEST(CallFailureDeathTest, ALostConnectionEndsTheRunUnderEveryRule) {
  EXPECT_EXIT(settleFailedCall(kLost), testing::ExitedWithCode(1), "^Socket is not connected\\.\n$");
  EXPECT_EXIT(
      {
        const FailureRule rule(Rejection::kReported, "heading ");
        settleFailedCall(kLost);
      },
      testing::ExitedWithCode(1), "^heading Socket is not connected\\.\n$");
}

TEST(CallFailureTest, WhileLossIsRaisedALostConnectionRaisesUnreportedUnderAnyRule) {
  const LossRaised raised;
  for (Rejection rejection : {Rejection::kPassedOver, Rejection::kEndsRun, Rejection::kFailsStartUp}) {
    const FailureRule rule(rejection, "heading ");
    testing::internal::CaptureStderr();
    EXPECT_THROW(
        {
          try {
            settleFailedCall(kLost);
          } catch (const ConnectionLost& lost) {
            EXPECT_STREQ(lost.what(), kLost.data());
            throw;
          }
        },
        ConnectionLost);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  }
  // A rejection is still settled by the rule.
  const FailureRule rule(Rejection::kReported);
  EXPECT_EQ(settleAndCapture(kRejected), std::string(kRejected) + "\n");
}

TEST(CallFailureDeathTest, ALostConnectionEndsTheRunAgainOnceLossIsNoLongerRaised) {
  { const LossRaised raised; }
  EXPECT_EXIT(settleFailedCall(kLost), testing::ExitedWithCode(1), "^Socket is not connected\\.\n$");
}

TEST(CallFailureDeathTest, UnderEndsRunARejectionEndsTheRunToo) {
  EXPECT_EXIT(
      {
        const FailureRule rule(Rejection::kEndsRun);
        settleFailedCall(kRejected);
      },
      testing::ExitedWithCode(1), "<UNDEFINED>");
}

}  // namespace
}  // namespace kvrtools
