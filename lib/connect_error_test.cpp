// The texts of the error kinds, and which kinds are raised.
#include "connect_error.h"

#include <gtest/gtest.h>

#include "kvr_connect.h"

namespace kovra {
namespace {

TEST(ErrorTexts, KindsHaveTheirTexts) {
  EXPECT_STREQ(ConnectErrorText(ceNoJob), "Can't create new job.");
  EXPECT_STREQ(ConnectErrorText(ceSocketNotConnected), "Socket is not connected.");
  EXPECT_STREQ(ConnectErrorText(ceReserved5), "");
}

TEST(ErrorTexts, ReservedKindIsNotRaised) {
  TKvrConnect c;
  EXPECT_NO_THROW(c.DoError(ceReserved5));
  EXPECT_THROW(c.DoError(ceUnknown), EMConnectError);
}

}  // namespace
}  // namespace kovra
