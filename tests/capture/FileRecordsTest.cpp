// Capture files read in place: every frame as libpcap's pcap_next_ex reads it from the same
// file, and the mapping surviving a file that shrinks or grows under it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pcap/pcap.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>

#include "capture/FileRecords.h"
#include "tests/common/Frames.h"

namespace {
// File bytes in either byte order.
struct Writer {
  explicit Writer(bool bigEndian = false) : big(bigEndian) {}
  bool big;
  Bytes out;
  Writer& U16(uint16_t v) { return Put(v, 2); }
  Writer& U32(uint32_t v) { return Put(v, 4); }
  Writer& U64(uint64_t v) {
    return big ? U32(uint32_t(v >> 32)).U32(uint32_t(v)) : U32(uint32_t(v)).U32(uint32_t(v >> 32));
  }
  Writer& Raw(const Bytes& b) {
    out.insert(out.end(), b.begin(), b.end());
    return *this;
  }
  Writer& Pad() {
    while (out.size() % 4) out.push_back(0);
    return *this;
  }
  Writer& Put(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(uint8_t(v >> 8 * (big ? n - 1 - i : i)));
    return *this;
  }

  // Classic pcap.
  Writer& FileHeader(uint32_t magic, uint16_t major, uint16_t minor, uint32_t snaplen) {
    return U32(magic).U16(major).U16(minor).U32(0).U32(0).U32(snaplen).U32(1);
  }
  // `extra`: what the modified header adds (interface index, protocol, packet type, padding).
  Writer& Packet(uint32_t sec, uint32_t frac, uint32_t caplen, uint32_t len, const Bytes& data,
                 const Bytes& extra = {}) {
    return U32(sec).U32(frac).U32(caplen).U32(len).Raw(extra).Raw(data);
  }

  // pcapng: a block is its type, total length, body padded to 4, total length again.
  Writer& Block(uint32_t type, const Writer& body) {
    Bytes padded = body.out;
    padded.resize((padded.size() + 3) & ~size_t(3));
    const uint32_t total = uint32_t(padded.size()) + 12;
    return U32(type).U32(total).Raw(padded).U32(total);
  }
  Writer Body() const { return Writer(big); }
  Writer& Section() { return Block(0x0A0D0D0A, Body().U32(0x1A2B3C4D).U16(1).U16(0).U64(~0ull)); }
  // An interface with if_tsresol `resolution` (none when 0xFF) and if_tsoffset `offset`.
  Writer& Interface(uint32_t snaplen, uint8_t resolution = 0xFF, uint64_t offset = 0) {
    Writer b = Body().U16(1).U16(0).U32(snaplen);
    if (resolution != 0xFF) b.U16(9).U16(1).Raw({resolution, 0, 0, 0});
    if (offset) b.U16(14).U16(8).U64(offset);
    b.U16(0).U16(0);
    return Block(1, b);
  }
  Writer& Enhanced(uint32_t id, uint64_t t, const Bytes& data, uint32_t len = 0) {
    Writer b = Body().U32(id).U32(uint32_t(t >> 32)).U32(uint32_t(t)).U32(uint32_t(data.size()));
    b.U32(len ? len : uint32_t(data.size())).Raw(data).Pad();
    b.U16(1).U16(4).Raw(Text("note")).U16(0).U16(0);  // a comment option
    return Block(6, b);
  }
  Writer& Simple(const Bytes& data, uint32_t len) {
    return Block(3, Body().U32(len).Raw(data));
  }
  Writer& Obsolete(uint16_t id, uint64_t t, const Bytes& data) {
    return Block(2, Body().U16(id).U16(0).U32(uint32_t(t >> 32)).U32(uint32_t(t))
                        .U32(uint32_t(data.size())).U32(uint32_t(data.size())).Raw(data));
  }
};

Bytes Frame(size_t size, uint8_t seed) {
  Bytes f = UdpFrame(1000 + seed, 53, Bytes(size > 42 ? size - 42 : 0, seed));
  f.resize(size, seed);
  return f;
}

void Save(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              std::streamsize(bytes.size()));
}

struct Frames {
  std::vector<PCAP_PKTHDR> headers;
  std::vector<Bytes> data;
  std::vector<uint64_t> offsets;
  int end = 0;
  std::string error;
};

// What pcap_next_ex gives, with the header taken as the program takes it (32-bit times).
Frames ReadWithLibpcap(const std::string& path) {
  Frames f;
  char errbuf[PCAP_ERRBUF_SIZE] = "";
  pcap_t* p = pcap_open_offline(path.c_str(), errbuf);
  if (!p) {
    f.end = -3;
    f.error = errbuf;
    return f;
  }
  pcap_pkthdr* h;
  const u_char* data;
  while ((f.end = pcap_next_ex(p, &h, &data)) == 1) {
    f.headers.push_back({{int32_t(h->ts.tv_sec), int32_t(h->ts.tv_usec)}, h->caplen, h->len});
    f.data.emplace_back(data, data + h->caplen);
  }
  if (f.end == -1) f.error = pcap_geterr(p);
  if (f.end == -2) f.end = 0;  // the end of the file, as pcap_next_ex says it
  pcap_close(p);
  return f;
}

// Through the mapping, or with `chunk` > 0 through a TFileStream of chunks that size, started
// on the file as if it were `streamSize` bytes long (its size when 0).
Frames ReadInPlace(const std::string& path, TMappedFile& file, TFileRecords& records,
                   size_t chunk = 0, uint64_t streamSize = 0) {
  Frames f;
  if (!file.Open(path, f.error) || !records.Open(file, f.error)) {
    f.end = -3;
    return f;
  }
  file.SetMaxRecord(records.MaxRecord());
  std::unique_ptr<TFileStream> stream;
  if (chunk) {
    stream = std::make_unique<TFileStream>(chunk);
    stream->Start(file.Descriptor(), streamSize ? streamSize : file.Size());
  }
  TFileRecord r;
  while ((f.end = stream ? records.Next(*stream, r, f.error) : records.Next(r, f.error)) == 1) {
    f.headers.push_back(r.Header);
    f.data.emplace_back(r.Data, r.Data + r.Header.caplen);
    f.offsets.push_back(r.Offset);
  }
  return f;
}

void ExpectSameFrames(const Frames& got, const Frames& want, const std::string& name) {
  SCOPED_TRACE(name);
  ASSERT_EQ(got.headers.size(), want.headers.size());
  for (size_t i = 0; i < want.headers.size(); ++i) {
    EXPECT_EQ(got.headers[i].ts.tv_sec, want.headers[i].ts.tv_sec) << i;
    EXPECT_EQ(got.headers[i].ts.tv_usec, want.headers[i].ts.tv_usec) << i;
    EXPECT_EQ(got.headers[i].caplen, want.headers[i].caplen) << i;
    EXPECT_EQ(got.headers[i].len, want.headers[i].len) << i;
    EXPECT_EQ(got.data[i], want.data[i]) << i;
  }
  EXPECT_EQ(got.end, want.end);
  EXPECT_EQ(got.error, want.error);
}

constexpr uint32_t Micro = 0xa1b2c3d4, Nano = 0xa1b23c4d, Modified = 0xa1b2cd34;

// Saves at `path` a pcap file of `count` full-size frames, frame i filled from i; its bytes.
Bytes SaveFullFrames(const std::string& path, uint8_t count) {
  Writer w = Writer{}.FileHeader(Micro, 2, 4, 65535);
  for (uint8_t i = 0; i < count; ++i) w.Packet(i, 0, 1514, 1514, Frame(1514, i));
  Save(path, w.out);
  return w.out;
}
}  // namespace

TEST(FileRecords, EveryFileReadsAsLibpcapReadsIt) {
  TempDir dir;
  std::vector<std::pair<std::string, Bytes>> cases;
  const auto add = [&](const std::string& name, const Writer& w) {
    cases.push_back({name, w.out});
  };
  const auto head = [](const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + long(n)); };
  const Bytes a = Frame(60, 1), b = Frame(1514, 2), c = Frame(200, 3);
  using W = Writer;

  for (bool big : {false, true}) {
    const std::string order = big ? " big-endian" : " little-endian";
    add("pcap us" + order, W(big).FileHeader(Micro, 2, 4, 65535).Packet(1, 999999, 60, 60, a)
                               .Packet(2, 0, 100, 1514, head(b, 100)));
    // A nanosecond field that is negative read signed: libpcap's swap reads it unsigned.
    add("pcap ns" + order, W(big).FileHeader(Nano, 2, 4, 65535).Packet(1, 999999999, 60, 60, a)
                               .Packet(0xFFFFFFFF, 0xFFFFFF76, 200, 200, c));
    add("pcapng" + order, W(big).Section().Interface(65535, 6, 300).Enhanced(0, 17000001234567, a)
                              .Simple(b, 1514).Obsolete(0, 42, c));
  }
  add("pcap modified header", W().FileHeader(Modified, 2, 4, 100)
                                  .Packet(5, 6, 114, 114, Frame(114, 4), {7, 0, 0, 0, 8, 0, 9, 0})
                                  .Packet(1, 2, 60, 60, a, Bytes(8, 0)));
  add("pcap 2.2 len before caplen", W().FileHeader(Micro, 2, 2, 65535).Packet(1, 2, 1514, 60, a));
  add("pcap 2.3 either order", W().FileHeader(Micro, 2, 3, 65535).Packet(1, 2, 1514, 60, a)
                                   .Packet(3, 4, 60, 1514, a));
  add("pcap DG/UX 543.0", W().FileHeader(Micro, 543, 0, 65535).Packet(1, 2, 1514, 60, a));
  add("pcap caplen over snapshot", W().FileHeader(Micro, 2, 4, 64).Packet(1, 2, 200, 200, c)
                                       .Packet(3, 4, 60, 60, a));
  add("pcap snapshot 0", W().FileHeader(Micro, 2, 4, 0).Packet(1, 2, 1514, 1514, b));
  add("pcap caplen over maximum and snapshot", W().FileHeader(Micro, 2, 4, 65535)
                                                   .Packet(1, 2, 60, 60, a)
                                                   .Packet(1, 2, 300000, 300000, {}));
  add("pcap caplen over maximum within snapshot",
      W().FileHeader(Micro, 2, 4, 0x7FFFFFFF).Packet(1, 2, 300000, 300000, {}));
  const Bytes cut = W().FileHeader(Micro, 2, 4, 65535).Packet(1, 2, 1514, 1514, b).out;
  add("pcap cut in a header", W().Raw(head(cut, 30)));
  add("pcap cut in a frame", W().Raw(head(cut, cut.size() - 10)));
  add("pcap cut in the part past the snapshot",
      W().FileHeader(Micro, 2, 4, 64).Packet(1, 2, 200, 200, head(c, 100)));

  add("pcapng resolutions and offsets",
      W().Section().Interface(65535, 9).Interface(65535, 3, 1000).Interface(65535, 0x94)
          .Block(0xBAD, W().U64(7)).Enhanced(0, 1700000000123456789ull, a)
          .Enhanced(1, 1700000000123ull, c).Enhanced(2, (1700000000ull << 20) + 777777, b));
  add("pcapng a new section forgets the interfaces",
      W().Section().Interface(65535, 9).Interface(65535).Enhanced(1, 5, a)
          .Section().Interface(65535).Enhanced(0, 6, c).Enhanced(1, 7, a));
  // A length that reads the same in both byte orders, so that libpcap gets to the byte order.
  const Bytes other = W(true).Block(0x0A0D0D0A, W(true).U32(0x1A2B3C4D).U16(1).U16(0).U64(~0ull)
                                                    .Raw(Bytes(0x10100 - 28, 0))).out;
  add("pcapng section of the other byte order",
      W().Section().Interface(65535).Enhanced(0, 5, a).Raw(other));
  add("pcapng snapshot cut simple block", W().Section().Interface(100).Simple(head(c, 100), 200));
  add("pcapng caplen over snapshot", W().Section().Interface(100).Enhanced(0, 1, c));
  const W good = W().Section().Interface(65535).Enhanced(0, 1, a);
  add("pcapng length not a multiple of 4", W(good).U32(6).U32(33).Raw(Bytes(28, 0)));
  add("pcapng trailer differs", W(good).U32(0xBAD).U32(16).U32(0).U32(20));
  add("pcapng block too short", W(good).Block(6, W().U32(0)));
  add("pcapng block over maximum", W(good).U32(0xBAD).U32(64 << 20));
  add("pcapng no such interface", W(good).Enhanced(3, 1, a));
  const Bytes whole = W(good).Enhanced(0, 2, b).out;
  add("pcapng cut in a block", W().Raw(head(whole, whole.size() - 100)));
  add("pcapng cut in a block header", W().Raw(head(whole, good.out.size() + 5)));
  add("pcapng bad tsresol", W().Section().Interface(65535, 20));

  // Files libpcap refuses to open.
  add("empty", W());
  add("three bytes", W().Raw({0xd4, 0xc3, 0xb2}));
  add("unknown magic", W().Raw(Text("hello, this is text\n")));
  add("pcap header cut", W().U32(Micro).U16(2).U16(4).U16(0));
  add("pcap archaic", W().FileHeader(Micro, 1, 0, 65535));
  add("pcap version 2.5", W().FileHeader(Micro, 2, 5, 65535));
  add("pcapng version 2.0", W().Block(0x0A0D0D0A, W().U32(0x1A2B3C4D).U16(2).U16(0).U64(0)));
  add("pcapng section length", W().U32(0x0A0D0D0A).U32(12).U32(0x1A2B3C4D).U32(0));
  add("pcapng section cut", W().U32(0x0A0D0D0A).U32(28).U32(0x1A2B3C4D).U32(1));
  add("pcapng without interfaces", W().Section().Block(0xBAD, W()));
  add("pcapng packet first", W().Section().Simple(a, 60));

  // Two files through libpcap's own writer, in microseconds and nanoseconds.
  std::vector<Record> written(3);
  written[0].frame = a;
  written[1].frame = b;
  written[1].caplen = 100;
  written[2].frame = c;
  written[2].usec = 999999;
  WritePcap(dir.File("dumped.pcap"), written);
  cases.push_back({"libpcap dump", {}});
  pcap_t* dead =
      pcap_open_dead_with_tstamp_precision(DLT_EN10MB, 65535, PCAP_TSTAMP_PRECISION_NANO);
  pcap_dumper_t* dumper = pcap_dump_open(dead, dir.File("dumped-ns.pcap").c_str());
  for (const Record& r : written) {
    const uint32_t len = uint32_t(r.frame.size());
    const pcap_pkthdr h{{r.sec, r.usec * 1000 + 999}, r.caplen ? r.caplen : len, len};
    pcap_dump(reinterpret_cast<u_char*>(dumper), &h, r.frame.data());
  }
  pcap_dump_close(dumper);
  pcap_close(dead);
  cases.push_back({"libpcap dump ns", {}});
  cases.push_back({"missing", {}});

  for (size_t i = 0; i < cases.size(); ++i) {
    const auto& [name, bytes] = cases[i];
    std::string path = dir.File("case" + std::to_string(i));
    if (name == "libpcap dump") path = dir.File("dumped.pcap");
    else if (name == "libpcap dump ns") path = dir.File("dumped-ns.pcap");
    else if (name != "missing") Save(path, bytes);
    TMappedFile file;
    TFileRecords records;
    const Frames got = ReadInPlace(path, file, records);
    const Frames want = ReadWithLibpcap(path);
    ExpectSameFrames(got, want, name);
    // The pass that files every frame reads through a stream: chunks of a few bytes put a seam
    // in every field, and the default ones read as the program does.
    for (const size_t chunk : {size_t(1), size_t(7), TFileStream::DefaultChunk}) {
      TMappedFile again;
      TFileRecords streamed;
      const Frames read = ReadInPlace(path, again, streamed, chunk);
      ExpectSameFrames(read, want, name + ", stream of " + std::to_string(chunk) + "-byte chunks");
      EXPECT_EQ(read.offsets, got.offsets) << name;
    }
    // Each frame again from its offset alone, as a store will ask for it: through the mapping,
    // and through a stream of 7-byte chunks as a pass over every frame asks for it.
    TFileStream stream(7);
    if (file.IsOpen()) stream.Start(file.Descriptor(), file.Size());
    for (size_t k = 0; k < got.offsets.size(); ++k) {
      for (const bool streamed : {false, true}) {
        TFileRecord again;
        ASSERT_TRUE(streamed ? records.FrameAt(stream, got.offsets[k], again)
                             : records.FrameAt(got.offsets[k], again))
            << name << " " << k << (streamed ? " streamed" : "");
        EXPECT_EQ(std::memcmp(&again.Header, &got.headers[k], sizeof(PCAP_PKTHDR)), 0) << name;
        EXPECT_EQ(Bytes(again.Data, again.Data + again.Header.caplen), got.data[k]) << name;
      }
    }
  }
}

TEST(FileRecords, AFileTruncatedWhileMappedReadsOnAndOtherBusErrorsStillKill) {
  TempDir dir;
  const std::string path = dir.File("shrinking.pcap");
  const Bytes written = SaveFullFrames(path, 200);

  TMappedFile file;
  TFileRecords records;
  const Frames before = ReadInPlace(path, file, records);
  ASSERT_EQ(before.headers.size(), 200u);
  TFileRecord last;
  ASSERT_TRUE(records.FrameAt(before.offsets.back(), last));
  EXPECT_FALSE(file.Recheck());

  const int writer = open(path.c_str(), O_RDWR);
  ASSERT_EQ(ftruncate(writer, off_t(written.size() / 2)), 0);
  close(writer);
  // The frame's pages are gone from the file: reading them must not kill the program.
  unsigned sum = 0;
  for (uint32_t i = 0; i < last.Header.caplen; ++i) sum += last.Data[i];
  EXPECT_EQ(sum, 0u);
  EXPECT_TRUE(file.Changed());
  EXPECT_TRUE(file.Recheck());
  EXPECT_EQ(file.Size(), written.size() / 2);
  for (size_t k = 0; k < before.offsets.size(); ++k) {
    TFileRecord r;
    const bool whole = before.offsets[k] + 16 + 1514 <= file.Size();
    ASSERT_EQ(records.FrameAt(before.offsets[k], r), whole) << k;
    if (whole) {
      EXPECT_EQ(Bytes(r.Data, r.Data + r.Header.caplen), before.data[k]) << k;
    }
  }

  // A mapping of the program's own that loses its file still dies of SIGBUS.
  const pid_t child = fork();
  if (child == 0) {
    const int fd = open(dir.File("other").c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0 || ftruncate(fd, 8192) != 0) _exit(3);
    auto* p = static_cast<volatile uint8_t*>(mmap(nullptr, 8192, PROT_READ, MAP_SHARED, fd, 0));
    if (ftruncate(fd, 0) != 0) _exit(3);
    _exit(p[4096] + 2);  // 2 if a page of zeros stood in
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
#ifdef __SANITIZE_ADDRESS__
  // The handler there before is AddressSanitizer's, which reports the fault and ends the child.
  EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
#else
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS) << status;
#endif
}

TEST(FileRecords, AFileCutWhileStreamedEndsWithWhatWasReadAndSaysWhy) {
  TempDir dir;
  const std::string path = dir.File("cut.pcap");
  const uint64_t whole = SaveFullFrames(path, 50).size();
  // Cut after its size was taken: the stream finds the end early, in a chunk read ahead or
  // in a record across chunks.
  const uint64_t cutAt = 24 + 20 * (16 + 1514) + 700;
  ASSERT_EQ(truncate(path.c_str(), off_t(cutAt)), 0);
  for (const size_t chunk : {size_t(7), size_t(4096), TFileStream::DefaultChunk}) {
    TMappedFile file;
    TFileRecords records;
    const Frames got = ReadInPlace(path, file, records, chunk, whole);
    ASSERT_EQ(got.headers.size(), 20u) << chunk;
    EXPECT_EQ(got.data.back(), Frame(1514, 19)) << chunk;
    EXPECT_EQ(got.end, -1) << chunk;
    EXPECT_EQ(got.error, "the file became shorter while it was read (" + std::to_string(cutAt) +
                             " of " + std::to_string(whole) + " bytes)")
        << chunk;
  }
}

TEST(FileRecords, AGrowingFileReadsOnAcrossWindows) {
  TempDir dir;
  const std::string path = dir.File("growing.pcapng");
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  uint64_t size = 0;
  const auto append = [&](const Writer& w) {
    ASSERT_EQ(write(fd, w.out.data(), w.out.size()), ssize_t(w.out.size()));
    size += w.out.size();
  };
  append(Writer{}.Section().Interface(65535));
  TMappedFile file;
  TFileRecords records;
  std::string error;
  ASSERT_TRUE(file.Adopt(fd, size, error)) << error;
  ASSERT_TRUE(records.Open(file, error)) << error;
  file.SetMaxRecord(records.MaxRecord());

  // Skipped blocks bring the file close to the end of the first window, written sparsely
  // (only their ends), so that the next frames lie across it and in the window after.
  const uint64_t frameAt = TMappedFile::WindowSize - 700;
  while (size < frameAt) {
    const uint32_t length = uint32_t(std::min<uint64_t>(frameAt - size, 8 << 20));
    const Writer head = Writer{}.U32(0xBAD).U32(length), tail = Writer{}.U32(length);
    ASSERT_EQ(pwrite(fd, head.out.data(), 8, off_t(size)), 8);
    ASSERT_EQ(pwrite(fd, tail.out.data(), 4, off_t(size + length - 4)), 4);
    size += length;
  }
  ASSERT_EQ(lseek(fd, off_t(size), SEEK_SET), off_t(size));
  file.Grow(size);
  TFileRecord r;
  EXPECT_EQ(records.Next(r, error), 0) << error;

  std::vector<std::pair<uint64_t, Bytes>> frames;
  for (uint8_t i = 0; i < 5; ++i) {
    const Bytes f = Frame(1514, i);
    append(Writer{}.Enhanced(0, 1000000ull * i + i, f));
    file.Grow(size);
    ASSERT_EQ(records.Next(r, error), 1) << error;
    EXPECT_EQ(r.Header.ts.tv_sec, i);
    EXPECT_EQ(r.Header.ts.tv_usec, i);
    EXPECT_EQ(Bytes(r.Data, r.Data + r.Header.caplen), f);
    frames.push_back({r.Offset, f});
    EXPECT_EQ(records.Next(r, error), 0);
  }
  EXPECT_LT(frames.front().first, TMappedFile::WindowSize);
  EXPECT_GT(frames.back().first, TMappedFile::WindowSize);
  for (const auto& [offset, f] : frames) {
    ASSERT_TRUE(records.FrameAt(offset, r));
    EXPECT_EQ(Bytes(r.Data, r.Data + r.Header.caplen), f);
  }
  EXPECT_FALSE(file.Changed());
  file.Close();
  close(fd);
}
