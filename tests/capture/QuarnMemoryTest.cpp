// The packet store: numbering, copies, bounds of what a node holds, and running out of memory.
#include <gtest/gtest.h>

#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "capture/QuarnMemory.h"
#include "tests/common/Frames.h"

namespace {
PCAP_PKTHDR Header(uint32_t caplen, uint32_t len, int32_t sec = 1, int32_t usec = 2) {
  PCAP_PKTHDR h{};
  h.ts.tv_sec = sec;
  h.ts.tv_usec = usec;
  h.caplen = caplen;
  h.len = len;
  return h;
}

size_t Count(const TQuarnMemory& m) {
  size_t n = 0;
  for (const TQuarnNode* p = m.First; p; p = m.Next(p)) ++n;
  return n;
}
}  // namespace

TEST(QuarnMemory, NumbersFramesFromOneAndAgainAfterClear) {
  TQuarnMemory m;
  EXPECT_EQ(m.First, nullptr);
  EXPECT_EQ(m.Last, nullptr);
  const Bytes frame = UdpFrame(1, 2, Text("x"));
  const PCAP_PKTHDR h = Header(uint32_t(frame.size()), uint32_t(frame.size()));
  TQuarnNode* first = m.Add(&h, frame.data());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Index, 1);
  EXPECT_EQ(m.First, first);
  EXPECT_EQ(m.Last, first);
  m.Add(&h, frame.data());
  TQuarnNode* third = m.Add(&h, frame.data());
  EXPECT_EQ(third->Index, 3);
  EXPECT_EQ(m.Next(third), nullptr);
  EXPECT_EQ(m.Next(nullptr), nullptr);
  EXPECT_EQ(m.Next(first)->Index, 2);
  EXPECT_EQ(m.Count(), 3);
  m.Clear();
  EXPECT_EQ(m.First, nullptr);
  EXPECT_EQ(m.Last, nullptr);
  EXPECT_EQ(m.Count(), 0);
  EXPECT_EQ(m.Add(&h, frame.data())->Index, 1);
  EXPECT_EQ(m.Next(m.First), nullptr);
}

TEST(QuarnMemory, ManyFramesAcrossBlocksKeepTheirBytesAndOrder) {
  TQuarnMemory m;
  const int frames = 20000;  // about 30 MB: several blocks
  for (int i = 0; i < frames; ++i) {
    Bytes f(60 + size_t(i % 1455), uint8_t(i));
    std::memcpy(f.data(), &i, sizeof i);
    const PCAP_PKTHDR h = Header(uint32_t(f.size()), uint32_t(f.size()), i, i);
    ASSERT_NE(m.Add(&h, f.data()), nullptr);
  }
  int i = 0;
  for (const TQuarnNode* n = m.First; n; n = m.Next(n), ++i) {
    ASSERT_EQ(n->Index, i + 1);
    ASSERT_EQ(n->PktHdr.ts.tv_sec, i);
    ASSERT_EQ(n->PktHdr.caplen, 60u + uint32_t(i % 1455));
    int tag;
    std::memcpy(&tag, n->Data(), sizeof tag);
    ASSERT_EQ(tag, i);
    ASSERT_EQ(n->Data()[n->PktHdr.caplen - 1], uint8_t(i));
    ASSERT_EQ(n->Data()[n->PktHdr.caplen], 0);  // the terminating zero byte
  }
  EXPECT_EQ(i, frames);

  // A frame larger than a block still fits.
  const Bytes huge(6u << 20, 0xAB);
  const PCAP_PKTHDR h = Header(uint32_t(huge.size()), uint32_t(huge.size()));
  const TQuarnNode* big = m.Add(&h, huge.data());
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->Index, frames + 1);
  EXPECT_EQ(std::memcmp(big->Data(), huge.data(), huge.size()), 0);
}

TEST(QuarnMemory, HoldsTheCapturedBytesWhateverTheWireLengthClaims) {
  TQuarnMemory m;
  const Bytes full = TcpFrame({}, Bytes(1460, 'z'));
  ASSERT_EQ(full.size(), 1514u);
  const PCAP_PKTHDR cut = Header(68, 1514);
  const TQuarnNode* n = m.Add(&cut, full.data());
  EXPECT_EQ(n->PktHdr.caplen, 68u);
  EXPECT_EQ(n->PktHdr.len, 1514u);
  EXPECT_EQ(n->DataEnd() - n->Data(), 68);
  EXPECT_EQ(std::memcmp(n->Data(), full.data(), 68), 0);

  // A damaged file may claim a wire length of gigabytes: the store must not reserve it.
  m.Clear();
  const PCAP_PKTHDR lying = Header(60, 0xFFFFFFF0u);
  for (int i = 0; i < 1000; ++i) ASSERT_NE(m.Add(&lying, full.data()), nullptr);
  EXPECT_LE(m.ReservedBytes(), size_t(8) << 20);
  EXPECT_EQ(m.Last->PktHdr.len, 0xFFFFFFF0u);
}

TEST(QuarnMemory, AssignMakesAnIndependentRenumberedCopy) {
  TQuarnMemory source;
  const Bytes frame = UdpFrame(1, 2, Text("abc"));
  for (int i = 0; i < 8; ++i) {
    const PCAP_PKTHDR h = Header(uint32_t(frame.size()) - uint32_t(i), 100u + uint32_t(i), i, i);
    source.Add(&h, frame.data());
    if (i == 2) source.Clear();  // the source now runs 1..5
  }
  ASSERT_EQ(source.Last->Index, 5);
  TQuarnMemory copy;
  const PCAP_PKTHDR h = Header(10, 10);
  copy.Add(&h, frame.data());  // replaced by the copy
  copy.Assign(source);
  ASSERT_EQ(Count(copy), 5u);
  const TQuarnNode* s = source.First;
  for (const TQuarnNode* c = copy.First; c; c = copy.Next(c), s = source.Next(s)) {
    EXPECT_NE(c, s);
    EXPECT_EQ(c->Index, s->Index);
    EXPECT_EQ(std::memcmp(&c->PktHdr, &s->PktHdr, sizeof(PCAP_PKTHDR)), 0);
    EXPECT_EQ(std::memcmp(c->Data(), s->Data(), c->PktHdr.caplen), 0);
  }
  const_cast<uint8_t*>(copy.First->Data())[0] ^= 0xFF;
  copy.Clear();
  EXPECT_EQ(source.First->Data()[0], frame[0]);
  EXPECT_EQ(Count(source), 5u);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(QuarnMemory, AFrameThatFindsNoMemoryIsDroppedAndNothingElse) {
  // In a child process, cap the address space just above what is in use, then add frames
  // until memory runs out.
  const pid_t pid = fork();
  if (pid == 0) {
    TQuarnMemory m;
    const Bytes frame(1514, 7);
    const PCAP_PKTHDR h = Header(1514, 1514);
    m.Add(&h, frame.data());
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0;
    if (!statm || std::fscanf(statm, "%lu", &pages) != 1) _exit(3);
    std::fclose(statm);
    limit.rlim_cur = pages * 4096 + (64u << 20);
    setrlimit(RLIMIT_AS, &limit);
    int added = 1;
    while (added < 1000000 && m.Add(&h, frame.data())) ++added;
    if (added == 1000000) _exit(4);  // never ran out: the test proves nothing
    const TQuarnNode* last = m.Last;
    if (m.Add(&h, frame.data()) != nullptr) _exit(5);
    if (m.Last != last || m.Last->Index != added || m.Next(last) != nullptr) _exit(6);
    // Every frame before the failure is intact.
    int n = 0;
    for (const TQuarnNode* p = m.First; p; p = m.Next(p))
      if (++n != p->Index || p->Data()[1513] != 7) _exit(7);
    _exit(n == added ? 0 : 8);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif
