// The connection object's properties and opening rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvr_connect.h"
#include "scripted_peer.h"

namespace kovra {
namespace {

using testing::ScriptedPeer;
using testing::Z;

TEST(ConnectionProperties, NewObjectHasTheDefaults) {
  TKvrConnect c;
  EXPECT_EQ(c.NameSpace, "%SYS");
  EXPECT_EQ(c.ServerPort(), 0);
  EXPECT_TRUE(c.RaiseBreakFlowError);
  EXPECT_EQ(c.ErrorHandler, htException);
  EXPECT_EQ(c.ConnectType, cntKovra);
  EXPECT_FALSE(c.Active());
  EXPECT_EQ(c.Socket(), -1);
  EXPECT_FALSE(c.Authorization.Active);
}

TEST(ConnectionProperties, AddressAndPortAreRefusedWhileActive) {
  ScriptedPeer peer;
  peer.Send(Z("<OK>:j|"));
  peer.Start();
  TKvrConnect c;
  c.SetHost("127.0.0.1");
  c.SetServerAddress("10.0.0.1");  // Host wins, so this address is never dialled
  c.SetServerPort(peer.Port());
  c.SetActive(true);
  ASSERT_TRUE(c.Active());
  try {
    c.SetServerPort(1);
    ADD_FAILURE() << "no error raised";
  } catch (const EMConnectError& e) {
    EXPECT_EQ(e.ErrorKind(), ceCannotChangeProperty);
    EXPECT_STREQ(e.what(), "Can't change property.");
  }
  EXPECT_THROW(c.SetHost("127.0.0.2"), EMConnectError);
  EXPECT_EQ(c.ServerPort(), peer.Port());
  EXPECT_EQ(c.Host(), "127.0.0.1");
  c.NameSpace = "USER";
  c.SetActive(false);
  c.SetActive(false);
  EXPECT_EQ(c.Socket(), -1);
  c.SetServerPort(1);
  EXPECT_EQ(c.ServerPort(), 1);
  EXPECT_EQ(peer.Finish(), "");
}

TEST(ConnectionProperties, DataOperationOnInactiveObjectSendsNothing) {
  TKvrConnect c;
  try {
    c.Read("1");
    ADD_FAILURE() << "no error raised";
  } catch (const EMConnectError& e) {
    EXPECT_EQ(e.ErrorKind(), ceNotConnected);
    EXPECT_STREQ(e.what(), "Connect does not exist.");
  }
  EXPECT_EQ(c.RequestText(), "");
  EXPECT_EQ(c.BusyCount(), 0);
}

TEST(ConnectionOpening, FailedConnectIsReportedOnlyThroughActiveAndEvents) {
  TKvrConnect c;
  std::vector<std::string> events;
  c.OnBeginConnect = [&](TKvrConnect&) { events.push_back("begin"); };
  c.OnEndConnect = [&](TKvrConnect&, bool on) { events.push_back(on ? "end:on" : "end:off"); };
  c.SetServerAddress("127.0.0.1");
  c.SetServerPort(1);  // privileged port: nothing listens there in a test box
  c.SetActive(true);
  EXPECT_FALSE(c.Active());
  EXPECT_EQ(c.Socket(), -1);
  EXPECT_EQ(events, (std::vector<std::string>{"begin", "end:off"}));
  EXPECT_EQ(c.ConnectFailure(), "Connection refused");
}

TEST(ConnectionOpening, TindraBackendWithoutItsLibraryFailsToOpen) {
  TKvrConnect c;
  c.ConnectType = cntTindra;
  try {
    c.SetActive(true);
    ADD_FAILURE() << "no error raised";
  } catch (const EKovraError& e) {
    EXPECT_EQ(e.Message(), "Failed to load ./libtindra.so");
  }
  EXPECT_FALSE(c.Active());
}

}  // namespace
}  // namespace kovra
