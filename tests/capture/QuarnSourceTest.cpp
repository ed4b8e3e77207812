// Choosing adapters, and opening live and remote sources.
#include <gtest/gtest.h>

#include <algorithm>

#include "capture/Quarn.h"
#include "tests/common/Rpcapd.h"
#include "tests/common/TraceListener.h"

namespace {
int IndexOf(const TStringList& list, const std::string& name) {
  const auto it = std::find(list.begin(), list.end(), name);
  return it == list.end() ? -1 : int(it - list.begin());
}
}  // namespace

TEST(QuarnSource, AdapterSettersFollowTheLists) {
  TQuarn q;
  const auto& names = q.AdapterNames();
  ASSERT_EQ(names.size(), q.AdapterDescriptions().size());
  ASSERT_GE(names.size(), 2u) << "expected at least lo and any";
  EXPECT_EQ(q.AdapterIndex(), -1);
  EXPECT_EQ(q.LastError(), "");

  q.SetAdapterIndex(1);
  EXPECT_EQ(q.AdapterName(), names[1]);
  EXPECT_EQ(q.AdapterDescription(), q.AdapterDescriptions()[1]);

  // Past the end: no adapter, but the description stays.
  const std::string description = q.AdapterDescription();
  q.SetAdapterIndex(int32_t(names.size()));
  EXPECT_EQ(q.AdapterIndex(), -1);
  EXPECT_EQ(q.AdapterName(), "");
  EXPECT_EQ(q.AdapterDescription(), description);
  q.SetAdapterIndex(-5);
  EXPECT_EQ(q.AdapterIndex(), -1);

  // Names match with case.
  const int lo = IndexOf(names, "lo");
  ASSERT_GE(lo, 0);
  q.SetAdapterName("lo");
  EXPECT_EQ(q.AdapterIndex(), lo);
  q.SetAdapterName("LO");
  EXPECT_EQ(q.AdapterIndex(), -1);
  EXPECT_EQ(q.AdapterName(), "");
  EXPECT_EQ(q.AdapterDescription(), "");

  // The first adapter with a description wins.
  const int any = IndexOf(names, "any");
  ASSERT_GE(any, 0);
  q.SetAdapterDescription(q.AdapterDescriptions()[size_t(any)]);
  EXPECT_EQ(q.AdapterName(), "any");
  q.SetAdapterDescription("no such adapter");
  EXPECT_EQ(q.AdapterIndex(), -1);
  EXPECT_EQ(q.AdapterName(), "");
}

TEST(QuarnSource, LocalOpenWithFilterAndItsFailures) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture needs root";
  TraceListener trace;
  TQuarn q;
  EXPECT_FALSE(q.Open(true));
  EXPECT_EQ(q.LastError(), "Quarn Error: Invalid AdapterName");
  EXPECT_EQ(trace.TakeMessages(),
            std::vector<std::string>{"[Quarn] TCustomQuarn.Open (Quarn Error: Invalid AdapterName)"});

  q.SetAdapterName("lo");
  q.SetFilter("udp and");
  EXPECT_FALSE(q.Open(true));
  EXPECT_NE(q.LastError().find("syntax error"), std::string::npos) << q.LastError();
  EXPECT_FALSE(q.Active());

  q.SetFilter("udp port 47123");
  ASSERT_TRUE(q.Open(true)) << q.LastError();
  EXPECT_TRUE(q.Active());
  EXPECT_EQ(q.Source(), "lo");
  EXPECT_NE(q.Handle(), nullptr);
  trace.Take();
  EXPECT_FALSE(q.Open(true));  // a second open leaves the first alone
  EXPECT_EQ(q.LastError(), "Quarn Error: Already open");
  EXPECT_TRUE(q.Active());
  EXPECT_TRUE(q.Close());
  EXPECT_FALSE(q.Active());
  EXPECT_EQ(q.Handle(), nullptr);
  EXPECT_FALSE(q.Close());
}

TEST(QuarnSource, RemoteOpenThroughRpcapd) {
  if (!RunningAsRoot()) GTEST_SKIP() << "the remote capture host needs root";
  Rpcapd host;
  TraceListener trace;
  {  // The handler sees the remote adapters and picks the loopback one.
    TQuarn q;
    TStringList seen;
    q.OnGetRemoteAdapterInfo = [&](TCustomQuarn&, const TStringList& names,
                                   const TStringList& descriptions, int32_t& index) {
      EXPECT_EQ(index, -1);
      EXPECT_EQ(names.size(), descriptions.size());
      seen = names;
      index = IndexOf(names, "rpcap://" + host.Host() + "/lo");
    };
    ASSERT_TRUE(q.Open(host.Host(), host.User(), host.Password())) << q.LastError();
    EXPECT_GE(IndexOf(seen, "rpcap://" + host.Host() + "/lo"), 0);
    EXPECT_TRUE(q.Active());
    EXPECT_EQ(q.Source(), "rpcap://" + host.Host() + "/lo");
    EXPECT_TRUE(q.Close());
  }
  trace.Take();
  {  // Without a handler, or with an index out of range, nothing is opened.
    TQuarn q;
    EXPECT_FALSE(q.Open(host.Host(), host.User(), host.Password()));
    EXPECT_EQ(q.LastError(), "Quarn Error: Cancel By User or Invalid AdapterName");
    EXPECT_EQ(trace.TakeMessages(),
              std::vector<std::string>{
                  "[Quarn] TCustomQuarn.Open (Quarn Error: Cancel By User or Invalid AdapterName)"});
    q.OnGetRemoteAdapterInfo = [](TCustomQuarn&, const TStringList& names, const TStringList&,
                                  int32_t& index) { index = int32_t(names.size()); };
    EXPECT_FALSE(q.Open(host.Host(), host.User(), host.Password()));
    EXPECT_EQ(q.LastError(), "Quarn Error: Cancel By User or Invalid AdapterName");
    EXPECT_FALSE(q.Active());
  }
  {  // A wrong password fails in the enumeration with the library's text, untraced.
    TQuarn q;
    bool asked = false;
    q.OnGetRemoteAdapterInfo = [&](TCustomQuarn&, const TStringList&, const TStringList&,
                                   int32_t& index) {
      asked = true;
      index = 0;
    };
    trace.Take();
    EXPECT_FALSE(q.Open(host.Host(), host.User(), "wrong" + host.Password()));
    EXPECT_FALSE(asked);
    EXPECT_NE(q.LastError(), "");
    EXPECT_EQ(q.LastError().find("Quarn Error"), std::string::npos) << q.LastError();
    EXPECT_TRUE(trace.TakeMessages(100).empty());
    EXPECT_FALSE(q.Active());
  }
}
