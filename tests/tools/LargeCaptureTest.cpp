// trellan-rows on a capture file larger than the memory it may use: every row comes out, and a
// capture that cannot be read whole is never passed off as complete.
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pcap/pcap.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/common/Frames.h"

namespace {
namespace fs = std::filesystem;

bool RunningAsRoot() { return geteuid() == 0; }

// A memory cgroup limited to `bytes`, removed at the end; cgroup v1 or v2, as mounted.
class MemoryCgroup {
 public:
  explicit MemoryCgroup(size_t bytes) {
    const std::string name = "trellan-test-" + std::to_string(getpid());
    if (fs::exists("/sys/fs/cgroup/memory/cgroup.procs")) {
      path_ = "/sys/fs/cgroup/memory/" + name;
      limitFile_ = "memory.limit_in_bytes";
    } else if (fs::exists("/sys/fs/cgroup/cgroup.controllers")) {
      path_ = "/sys/fs/cgroup/" + name;
      limitFile_ = "memory.max";
    } else {
      return;
    }
    std::error_code error;
    if (!fs::create_directory(path_, error)) {
      path_.clear();
      return;
    }
    std::ofstream(path_ + "/" + limitFile_) << bytes;
    // Swap would let the limit be met by paging out; v1 counts it separately when it can.
    if (fs::exists(path_ + "/memory.swappiness")) std::ofstream(path_ + "/memory.swappiness") << 0;
  }
  ~MemoryCgroup() {
    if (!path_.empty()) rmdir(path_.c_str());
  }
  bool Ok() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::string limitFile_;
};

struct Outcome {
  int status = -1;
  long lines = 0;
  std::string errors;
};

// Runs `command` inside the cgroup, counting the lines of its standard output without
// keeping them, and collecting its standard error.
Outcome InCgroup(const MemoryCgroup& group, const std::string& command, const std::string& errFile) {
  const std::string shell = "echo $$ > " + group.Path() + "/cgroup.procs && exec " + command +
                            " 2>" + errFile;
  std::FILE* p = popen(("sh -c '" + shell + "'").c_str(), "r");
  Outcome r;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    for (size_t i = 0; i < n; ++i) r.lines += buf[i] == '\n';
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::ifstream err(errFile);
  r.errors.assign(std::istreambuf_iterator<char>(err), {});
  return r;
}
}  // namespace

TEST(LargeCapture, AFileTwiceTheMemoryLimitPrintsEveryRow) {
  if (!RunningAsRoot()) GTEST_SKIP() << "making a memory cgroup needs root";
  MemoryCgroup group(size_t(100) << 20);
  if (!group.Ok()) GTEST_SKIP() << "no memory cgroup controller";
  TempDir dir;
  const std::string file = dir.File("large.pcap");
  {
    // 200 MB of full-size frames, written with libpcap's own writer.
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, file.c_str());
    ASSERT_NE(dumper, nullptr);
    const Bytes frame = UdpFrame(4000, 5000, Bytes(1458, 'x'));
    pcap_pkthdr h{{1000000000, 0}, uint32_t(frame.size()), uint32_t(frame.size())};
    for (long i = 0; i < 200L * 1000 * 1000 / long(frame.size() + 16); ++i) {
      h.ts.tv_usec = i % 1000000;
      pcap_dump(reinterpret_cast<u_char*>(dumper), &h, frame.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
  }
  const long frames = long(fs::file_size(file) - 24) / long(1500 + 16);
  // Out of this process's page cache, so that the reading is charged to the limited group.
  const int fd = open(file.c_str(), O_RDONLY);
  fsync(fd);
  posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  close(fd);

  const Outcome run =
      InCgroup(group, std::string(TRELLAN_ROWS) + " --view Ethernet " + file, dir.File("err"));
  EXPECT_EQ(run.status, 0) << run.errors;
  // The view's caption and column captions, then one line a frame.
  EXPECT_EQ(run.lines, frames + 2);
  EXPECT_EQ(run.errors, "");

  // With too little address space to map the file, the rows that could be read come out and
  // the tool says it stopped short, with a failing exit status. (A sanitizer's shadow memory
  // needs more address space than any such limit leaves.)
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return;
#endif
  const Outcome cramped = InCgroup(group,
                               "sh -c \"ulimit -v 150000; exec " + std::string(TRELLAN_ROWS) +
                                   " --view Ethernet " + file + "\"",
                               dir.File("err2"));
  EXPECT_EQ(cramped.status, 1);
  EXPECT_LT(cramped.lines, frames + 2);
  EXPECT_EQ(cramped.errors.rfind("trellan-rows: cannot map " + file + " into memory: ", 0), 0u)
      << cramped.errors;
}
