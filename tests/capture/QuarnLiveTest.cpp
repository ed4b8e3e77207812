// Live and remote capture through the capture thread: frames reach OnCapture on the right
// thread, every one of them, and closing is prompt.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include "capture/Quarn.h"
#include "capture/QuarnThread.h"
#include "platform/MainThread.h"
#include "tests/common/Frames.h"
#include "tests/common/Loopback.h"
#include "tests/common/Rpcapd.h"
#include "tests/common/TraceListener.h"

namespace {
// Records the payload of every captured UDP datagram and the thread it arrived on.
struct Capture {
  TQuarn quarn;
  std::mutex lock;
  std::vector<std::string> payloads;
  std::vector<uint32_t> threads;
  std::atomic<int> count{0};

  explicit Capture(uint16_t port, bool threadSafe) {
    quarn.SetFilter("udp port " + std::to_string(port));
    quarn.SetThreadSafe(threadSafe);
    quarn.OnCapture = [this](TCustomQuarn&, const PCAP_PKTHDR* h, const ETH_HDR* e) {
      const auto* bytes = reinterpret_cast<const char*>(e);
      std::lock_guard g(lock);
      payloads.emplace_back(bytes + 42, h->caplen > 42 ? h->caplen - 42 : 0);
      threads.push_back(uint32_t(gettid()));
      ++count;
    };
  }
  std::vector<std::string> Expect(int n) {
    std::vector<std::string> v;
    for (int i = 0; i < n; ++i) v.push_back("datagram " + std::to_string(i));
    return v;
  }
  void Send(uint16_t port, int n) {
    for (int i = 0; i < n; ++i) SendDatagram(port, "datagram " + std::to_string(i));
  }
};

using Clock = std::chrono::steady_clock;
}  // namespace

TEST(QuarnLive, ThreadSafeDeliversEveryFrameOnTheMainThread) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture needs root";
  const uint16_t port = PrivatePort();
  Capture c(port, true);
  c.quarn.SetAdapterName("lo");
  ASSERT_TRUE(c.quarn.Open(true)) << c.quarn.LastError();
  ASSERT_NE(c.quarn.Thread(), nullptr);
  EXPECT_EQ(c.quarn.Thread()->State.load(), TZebThread::Opened);
  c.Send(port, 200);
  EXPECT_TRUE(ServeUntil(5000, [&] { return c.count == 200; })) << c.count;
  EXPECT_TRUE(c.quarn.Close());
  EXPECT_EQ(c.quarn.Thread(), nullptr);
  EXPECT_EQ(c.payloads, c.Expect(200));
  for (uint32_t t : c.threads) EXPECT_EQ(t, uint32_t(getpid()));
}

// On Linux a read time-out of 0 means none at all, and the kernel then hands frames over only
// when a whole ring block is full: a few datagrams never arrived. Every value the dialogs take
// must deliver light traffic, and Close must still end a read that waits without a time-out.
TEST(QuarnLive, EveryReadTimeoutDeliversLightTraffic) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture needs root";
  for (const int timeout : {0, -1, 1}) {
    SCOPED_TRACE(timeout);
    const uint16_t port = PrivatePort();
    Capture c(port, true);
    c.quarn.SetReadTimeout(timeout);
    c.quarn.SetAdapterName("lo");
    ASSERT_TRUE(c.quarn.Open(true)) << c.quarn.LastError();
    c.Send(port, 5);
    EXPECT_TRUE(ServeUntil(5000, [&] { return c.count == 5; })) << c.count;
    EXPECT_TRUE(c.quarn.Close());
    EXPECT_EQ(c.payloads, c.Expect(5));
  }
}

// With ThreadSafe every frame waits for the main thread, which now and then is busy for a
// while (painting, a layout). Frames arriving meanwhile must wait in the kernel's ring, not be
// dropped, even at the program's 1 ms read time-out, with which the ring hands over a block at
// every time-out however few frames are in it: a ring of the library's default size (8
// blocks) was full after as many time-outs.
TEST(QuarnLive, ThreadSafeCaptureLosesNothingWhileTheMainThreadIsBusy) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture needs root";
  const uint16_t port = PrivatePort();
  Capture c(port, true);
  c.quarn.SetReadTimeout(1);
  // The datagrams come two milliseconds apart, longer than the time-out, so that each is
  // handed over in a block of its own: some sixty blocks wait while the main thread is busy,
  // where the library's default ring has room for 8. Even if every copy had a block of its
  // own (the loopback adapter shows each datagram twice, going out and coming in), they fit
  // into the program's ring of 128 blocks, so none may be lost however slowly the threads
  // run. The pause only spreads the traffic over blocks; it synchronises nothing.
  constexpr int frames = 60;
  std::atomic<bool> allSent{false};
  auto record = c.quarn.OnCapture;
  bool stalled = false, sentWhileBusy = false;
  c.quarn.OnCapture = [&](TCustomQuarn& q, const PCAP_PKTHDR* h, const ETH_HDR* e) {
    if (!stalled) {  // the first frame finds the main thread busy until every frame is sent
      stalled = true;
      sentWhileBusy = PollUntil(60000, [&] { return allSent.load(); });
    }
    record(q, h, e);
  };
  c.quarn.SetAdapterName("lo");
  ASSERT_TRUE(c.quarn.Open(true)) << c.quarn.LastError();
  std::thread sender([&] {
    for (int i = 0; i < frames; ++i) {
      SendDatagram(port, "datagram " + std::to_string(i));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    allSent = true;
  });
  EXPECT_TRUE(ServeUntil(30000, [&] { return c.count == frames; })) << c.count;
  sender.join();
  EXPECT_TRUE(sentWhileBusy);
  EXPECT_TRUE(c.quarn.Close());
  EXPECT_EQ(c.payloads, c.Expect(frames));
}

TEST(QuarnLive, NotThreadSafeDeliversOnTheCaptureThread) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture needs root";
  const uint16_t port = PrivatePort();
  Capture c(port, false);
  c.quarn.SetAdapterName("lo");
  ASSERT_TRUE(c.quarn.Open(true)) << c.quarn.LastError();
  c.Send(port, 200);
  EXPECT_TRUE(PollUntil(5000, [&] { return c.count == 200; })) << c.count;
  EXPECT_TRUE(c.quarn.Close());
  std::lock_guard g(c.lock);
  EXPECT_EQ(c.payloads, c.Expect(200));
  for (uint32_t t : c.threads) EXPECT_NE(t, uint32_t(getpid()));
}

TEST(QuarnLive, CloseIsPromptAndServesAPendingDelivery) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture needs root";
  TraceListener trace;
  const uint16_t port = PrivatePort();
  {  // No traffic: Close returns within the read time-out and the polling slice.
    Capture c(port, true);
    c.quarn.SetAdapterName("lo");
    ASSERT_TRUE(c.quarn.Open(true));
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    const auto start = Clock::now();
    EXPECT_TRUE(c.quarn.Close());
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100 + 50));
  }
  {  // A frame waits for the main thread, which is busy; Close delivers it on the way out.
    Capture c(port, true);
    c.quarn.SetAdapterName("lo");
    ASSERT_TRUE(c.quarn.Open(true));
    c.Send(port, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the main thread is "busy"
    EXPECT_EQ(c.count, 0);
    const auto start = Clock::now();
    EXPECT_TRUE(c.quarn.Close());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(c.count, 1);
    EXPECT_EQ(c.payloads, c.Expect(1));
  }
  EXPECT_TRUE(trace.TakeMessages(100).empty());  // no time-out was traced
}

TEST(QuarnLive, AnExceptionInTheHandlerEndsTheThreadButNotTheSource) {
  if (!RunningAsRoot()) GTEST_SKIP() << "live capture needs root";
  for (bool threadSafe : {true, false}) {
    TraceListener trace;
    const uint16_t port = PrivatePort();
    TQuarn q;
    q.SetAdapterName("lo");
    q.SetFilter("udp port " + std::to_string(port));
    q.SetReadTimeout(100);
    q.SetThreadSafe(threadSafe);
    std::atomic<int> calls{0};
    q.OnCapture = [&](TCustomQuarn&, const PCAP_PKTHDR*, const ETH_HDR*) {
      ++calls;
      throw std::runtime_error("handler failed");
    };
    ASSERT_TRUE(q.Open(true));
    SendDatagram(port, "one");
    SendDatagram(port, "two");
    EXPECT_TRUE(ServeUntil(3000, [&] { return q.Thread()->State == TZebThread::Ended; }));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(q.Active());
    EXPECT_EQ(trace.TakeMessages(),
              (std::vector<std::string>{
                  "[ZebThread] *******************************************",
                  "[ZebThread] TZebThread.Execute Exception occured (TQuarnThread) handler failed",
                  "[ZebThread] *******************************************"}));
    EXPECT_TRUE(q.Close());
    EXPECT_FALSE(q.Active());
  }
}

TEST(QuarnLive, AVanishedAdapterIsAReadErrorAndTheSourceStaysOpen) {
  if (!RunningAsRoot()) GTEST_SKIP() << "creating an adapter needs root";
  const std::string name = "trlv" + std::to_string(getpid() % 100000);
  ASSERT_EQ(std::system(("ip link add " + name + " type veth peer name " + name + "p && ip link set " +
                         name + " up && ip link set " + name + "p up").c_str()),
            0);
  TraceListener trace;
  TQuarn q;  // enumerates the adapters, the new one included
  q.SetAdapterName(name);
  ASSERT_EQ(q.AdapterName(), name);
  q.SetReadTimeout(100);
  std::atomic<int> frames{0};
  q.OnCapture = [&](TCustomQuarn&, const PCAP_PKTHDR*, const ETH_HDR*) { ++frames; };
  ASSERT_TRUE(q.Open(true)) << q.LastError();
  ASSERT_EQ(std::system(("ip link del " + name).c_str()), 0);
  EXPECT_TRUE(ServeUntil(5000, [&] { return q.Thread()->State == TZebThread::Ended; }));
  EXPECT_EQ(q.LastError(), "Quarn Error: pcap_next_ex return -1");
  const auto lines = trace.TakeMessages();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(),
            "[Quarn] TQuarnThread.Run pcap_next_ex return -1 (Quarn Error: pcap_next_ex return -1)");
  EXPECT_TRUE(q.Active());
  const int seen = frames;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(frames, seen);
  EXPECT_TRUE(q.Close());
}

TEST(QuarnRemote, FramesOfARemoteHostArrive) {
  if (!RunningAsRoot()) GTEST_SKIP() << "the remote capture host needs root";
  Rpcapd host;
  const uint16_t port = PrivatePort();
  Capture c(port, true);
  c.quarn.OnGetRemoteAdapterInfo = [&](TCustomQuarn&, const TStringList& names,
                                       const TStringList&, int32_t& index) {
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i] == "rpcap://" + host.Host() + "/lo") index = int32_t(i);
  };
  ASSERT_TRUE(c.quarn.Open(host.Host(), host.User(), host.Password())) << c.quarn.LastError();
  // The daemon captures from the moment the open returns, at the read time-out of a first
  // start: every frame sent from then on arrives.
  c.Send(port, 50);
  EXPECT_TRUE(ServeUntil(5000, [&] { return c.count == 50; })) << c.count;
  EXPECT_TRUE(c.quarn.Close());
  EXPECT_EQ(c.payloads, c.Expect(50));
}

TEST(QuarnLive, AFloodOfFramesReachesTheMainThreadEachOnceAndInOrder) {
  if (!RunningAsRoot()) GTEST_SKIP() << "creating an adapter needs root";
  VethPair veth("trlo" + std::to_string(getpid() % 100000));
  ASSERT_TRUE(veth.Ok());
  TQuarn q;  // the settings of a first start: ThreadSafe, read time-out 1
  q.SetAdapterName(veth.Name());
  q.SetFilter("udp dst port 5000");
  std::vector<uint32_t> numbers;
  bool elsewhere = false;
  q.OnCapture = [&](TCustomQuarn&, const PCAP_PKTHDR* h, const ETH_HDR* e) {
    elsewhere |= !platform::IsMainThread();
    uint32_t n = 0;
    if (h->caplen >= 46) std::memcpy(&n, reinterpret_cast<const uint8_t*>(e) + 42, sizeof n);
    numbers.push_back(n);
  };
  ASSERT_TRUE(q.Open(true)) << q.LastError();
  // Numbered datagrams out of the other end of the pair, as fast as the kernel takes them.
  constexpr uint32_t Sent = 200000;
  std::atomic<bool> done{false};
  std::atomic<uint32_t> sent{0};
  std::thread sender([&] {
    const auto numbered = [](uint32_t n) {
      Bytes payload(64, 0);
      std::memcpy(payload.data(), &n, sizeof n);
      return UdpFrame(4000, 5000, payload);
    };
    veth.BlastNumbered(numbered, Sent, std::atomic<bool>{false}, sent);
    done = true;
    platform::WakeServingWait();
  });
  // Served until the sender has finished and the frames have stopped coming.
  size_t seen = 0;
  ServeUntil(60000, [&] { return done.load(); });
  while (ServeUntil(500, [&] { return numbers.size() != seen; })) seen = numbers.size();
  sender.join();
  EXPECT_TRUE(q.Close());
  EXPECT_FALSE(elsewhere) << "a frame was delivered off the main thread";
  ASSERT_GT(numbers.size(), Sent / 10);
  for (size_t i = 1; i < numbers.size(); ++i)
    ASSERT_LT(numbers[i - 1], numbers[i]) << "frame " << i << " out of order or twice";
  EXPECT_LE(numbers.back(), Sent);
}

// Without a filter the daemon's own data connection runs over the adapter it captures: every
// frame it sent would be captured and sent again, larger each time, until the capture failed.
// Only the test's datagrams arrive, and the capture goes on.
TEST(QuarnRemote, AnUnfilteredCaptureOfLoopbackLeavesOutTheDaemonsOwnStream) {
  if (!RunningAsRoot()) GTEST_SKIP() << "the remote capture host needs root";
  Rpcapd host;
  const uint16_t port = PrivatePort();
  TQuarn q;  // the settings of a first start, and no filter
  std::vector<std::string> datagrams;
  int daemons = 0;
  q.OnCapture = [&](TCustomQuarn&, const PCAP_PKTHDR* h, const ETH_HDR* e) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(e);
    if (h->caplen < 42 || bytes[12] != 0x08 || bytes[13] != 0) return;
    if (bytes[23] == 17 && (bytes[36] << 8 | bytes[37]) == port)
      datagrams.emplace_back(reinterpret_cast<const char*>(bytes) + 42, h->caplen - 42);
    // A segment of the daemon's data connection, which carries one rpcap packet message
    // (version 0, type 7) after another. (Its control connection's few requests and replies
    // may pass; they do not feed themselves.) Counted from the first datagram on: libpcap
    // sends the filter that leaves the daemon's own traffic out only once the capture has
    // started, and waits for the daemon to take it; a slow client (a sanitizer's build) gets
    // a few of the daemon's messages captured before that, which then die out.
    if (datagrams.empty()) return;
    const size_t tcp = 14 + size_t(bytes[14] & 15) * 4;
    if (bytes[23] != 6 || h->caplen < tcp + 20) return;
    const size_t data = tcp + size_t(bytes[tcp + 12] >> 4) * 4;
    daemons += h->caplen >= data + 2 && bytes[data] == 0 && bytes[data + 1] == 7;
  };
  q.OnGetRemoteAdapterInfo = [&](TCustomQuarn&, const TStringList& names, const TStringList&,
                                 int32_t& index) {
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i].ends_with("/lo")) index = int32_t(i);
  };
  ASSERT_TRUE(q.Open(host.Host(), host.User(), host.Password())) << q.LastError();
  EXPECT_EQ(q.Flags(), 1);  // what the user gave stays as it was
  std::vector<std::string> sent;
  for (int i = 0; i < 20; ++i) {
    sent.push_back("datagram " + std::to_string(i));
    SendDatagram(port, sent.back());
    // One at a time, so that a capture of its own stream would have time to run away.
    ASSERT_TRUE(ServeUntil(5000, [&] { return datagrams.size() == sent.size(); }))
        << q.StopReason();
  }
  EXPECT_FALSE(q.CaptureEnded()) << q.StopReason();
  EXPECT_TRUE(q.Close());
  EXPECT_EQ(datagrams, sent);
  EXPECT_EQ(daemons, 0);
}
