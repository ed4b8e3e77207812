// The capture helper: an ordinary user of the capture group captures through it with a
// program that holds no rights, a user outside the group cannot run it, and it refuses
// arguments that would have it open or write anything it should not.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <grp.h>
#include <poll.h>
#include <pcap/pcap.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/common/Loopback.h"

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int Run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

// A login-less account made for the test, removed at the end; accounts that a killed run left
// behind are removed first.
struct Account {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
  Account(const std::string& kind, bool inGroup) {
    name = "trlcap" + kind + std::to_string(getpid());
    Run("userdel -f " + name);
    EXPECT_EQ(Run("useradd -M -d /nonexistent -s /usr/sbin/nologin " +
                  std::string(inGroup ? "-G trellan " : "") + name),
              0);
    if (const passwd* p = getpwnam(name.c_str())) {
      uid = p->pw_uid;
      gid = p->pw_gid;
    }
  }
  ~Account() { Run("userdel -f " + name); }
};

// The accounts, and copies of the helper (group trellan, mode 0750, the capture capabilities)
// and of the capturing program (no capabilities) in a folder every user can pass through.
struct Accounts {
  fs::path folder;
  std::string helper, probe;
  std::unique_ptr<Account> member, outsider;
  Accounts() {
    (void)std::system("awk -F: '$1 ~ /^trlcap(in|out)[0-9]+$/ && $3 != 0 {print $1}' /etc/passwd"
                      " | xargs -r -n1 userdel -f >/dev/null 2>&1");
    EXPECT_EQ(Run("getent group trellan || groupadd trellan"), 0);
    member = std::make_unique<Account>("in", true);
    outsider = std::make_unique<Account>("out", false);
    char name[] = "/tmp/trellan-helper-XXXXXX";
    folder = mkdtemp(name);
    fs::create_directories(folder / "bin");
    fs::create_directories(folder / "helper");
    helper = (folder / "helper" / "trellan-capture").string();
    probe = (folder / "bin" / "probe").string();
    fs::copy_file(TRELLAN_CAPTURE_HELPER_BUILT, helper);
    fs::copy_file(TRELLAN_CAPTURE_PROBE, probe);
    for (const fs::path& p : {folder, folder / "bin", folder / "helper"}) chmod(p.c_str(), 0755);
    chmod(probe.c_str(), 0755);
    const group* g = getgrnam("trellan");
    EXPECT_NE(g, nullptr);
    EXPECT_EQ(chown(helper.c_str(), 0, g ? g->gr_gid : 0), 0);
    chmod(helper.c_str(), 0750);
    EXPECT_EQ(Run("setcap cap_net_raw,cap_net_admin=ep " + helper), 0);
  }
  ~Accounts() { fs::remove_all(folder); }
};

// The capturing program, run as `account` through setpriv, talked to through its standard
// input and output.
struct Probe {
  pid_t pid = -1;
  int in = -1, out = -1;
  std::string buffer;
  Probe(const Accounts& s, const Account& a, const std::string& filter, bool withHelper) {
    int toChild[2], fromChild[2];
    EXPECT_EQ(pipe2(toChild, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(fromChild, O_CLOEXEC), 0);
    const std::string uid = "--reuid=" + std::to_string(a.uid),
                      gid = "--regid=" + std::to_string(a.gid),
                      helperVariable = "TRELLAN_CAPTURE_HELPER=" + s.helper;
    pid = fork();
    if (pid == 0) {
      dup2(toChild[0], 0);
      dup2(fromChild[1], 1);
      const char* argv[] = {"setpriv", uid.c_str(), gid.c_str(), "--init-groups",
                            s.probe.c_str(), filter.c_str(), nullptr};
      const char* env[] = {"PATH=/usr/bin:/bin", withHelper ? helperVariable.c_str() : nullptr,
                           nullptr};
      execve("/usr/bin/setpriv", const_cast<char**>(argv), const_cast<char**>(env));
      _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    in = toChild[1];
    out = fromChild[0];
  }
  // The next line of output; empty when none comes within the deadline.
  std::string Line(Clock::time_point until) {
    for (;;) {
      const size_t end = buffer.find('\n');
      if (end != std::string::npos) {
        std::string line = buffer.substr(0, end);
        buffer.erase(0, end + 1);
        return line;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      pollfd p{out, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, int(left)) <= 0) return {};
      char chunk[4096];
      const ssize_t n = read(out, chunk, sizeof chunk);
      if (n <= 0) return {};
      buffer.append(chunk, size_t(n));
    }
  }
  std::string Line() { return Line(Clock::now() + std::chrono::seconds(30)); }
  // Ends its input, which makes it close the capture; its exit status.
  int Finish() {
    if (in >= 0) close(in);
    in = -1;
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return status;
  }
  ~Probe() {
    if (pid > 0) Finish();
    close(out);
  }
};

bool Root() { return geteuid() == 0; }
}  // namespace

TEST(CaptureHelper, AMemberOfTheGroupCapturesEveryFrameInOrderWithoutRightsOfItsOwn) {
  if (!Root()) GTEST_SKIP() << "making accounts and setting capabilities needs root";
  Accounts s;
  const uint16_t port = PrivatePort();
  Probe p(s, *s.member, "udp port " + std::to_string(port), true);
  ASSERT_EQ(p.Line(), "open");
  constexpr int frames = 100;
  for (int i = 0; i < frames; ++i) SendDatagram(port, "datagram " + std::to_string(i));
  for (int i = 0; i < frames; ++i) ASSERT_EQ(p.Line(), "datagram " + std::to_string(i));
  close(p.in);
  p.in = -1;
  const std::string closed = p.Line();
  EXPECT_EQ(closed, "closed");  // Close ended the helper and the thread reading it
  if (closed != "closed") kill(p.pid, SIGKILL);
  EXPECT_EQ(p.Finish(), 0);
}

TEST(CaptureHelper, WithoutItTheUserIsRefusedForLackOfRights) {
  if (!Root()) GTEST_SKIP() << "making accounts and setting capabilities needs root";
  Accounts s;
  Probe p(s, *s.member, "udp port " + std::to_string(PrivatePort()), false);
  const std::string line = p.Line();
  EXPECT_EQ(line.rfind("error lo: " + std::string(pcap_statustostr(PCAP_ERROR_PERM_DENIED)), 0),
            0u)
      << line;
  EXPECT_NE(p.Finish(), 0);
}

// The helper's texts reach the user as the library's would reach root.
TEST(CaptureHelper, AFilterItRefusesGivesTheUserTheTextRootGets) {
  if (!Root()) GTEST_SKIP() << "making accounts and setting capabilities needs root";
  Accounts s;
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
  bpf_program program{};
  ASSERT_LT(pcap_compile(dead, &program, "udp port", 1, PCAP_NETMASK_UNKNOWN), 0);
  const std::string rootText = pcap_geterr(dead);
  pcap_close(dead);
  Probe p(s, *s.member, "udp port", true);
  EXPECT_EQ(p.Line(), "error " + rootText);
  EXPECT_NE(p.Finish(), 0);
}

TEST(CaptureHelper, AUserOutsideTheGroupCannotRunIt) {
  if (!Root()) GTEST_SKIP() << "making accounts and setting capabilities needs root";
  Accounts s;
  int report[2];
  ASSERT_EQ(pipe2(report, O_CLOEXEC), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    int error = 0;
    if (setgroups(0, nullptr) != 0 || setresgid(s.outsider->gid, s.outsider->gid, s.outsider->gid) != 0 ||
        setresuid(s.outsider->uid, s.outsider->uid, s.outsider->uid) != 0) {
      error = -1;
    } else {
      const char* argv[] = {"trellan-capture", nullptr};
      execv(s.helper.c_str(), const_cast<char**>(argv));
      error = errno;
    }
    (void)!write(report[1], &error, sizeof error);
    _exit(0);
  }
  close(report[1]);
  int error = 0;
  EXPECT_EQ(read(report[0], &error, sizeof error), ssize_t(sizeof error));
  close(report[0]);
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(error, EACCES);
}

// Each refusal is one line on standard error and exit status 2, and nothing reaches the
// descriptor: the helper got nowhere near an adapter.
TEST(CaptureHelper, RefusesHostileArguments) {
  if (!Root()) GTEST_SKIP() << "checking that nothing is opened needs an adapter root may open";
  const std::string longName(256, 'a'), longFilter(4097, 'x');
  const std::vector<std::vector<std::string>> cases = {
      {"--fd", "3", "--adapter", "trlnosuch0"},
      {"--fd", "/tmp/frames", "--adapter", "lo"},
      {"--fd", "3", "--adapter", "lo", "regular file"},
      {"--fd", "3", "--adapter", longName},
      {"--fd", "3", "--adapter", "lo", "--filter", longFilter},
      {"--fd", "3", "--adapter", "lo", "--snaplen", "1500x"},
      {"--fd", "3", "--adapter", "lo", "--timeout", " 1"},
      {"--fd", "3", "--adapter", "lo", "--flags", "4294967297"},
      {"--fd", "3", "--adapter", "lo", "--output", "/tmp/frames"},
      {"--fd", "3", "--adapter", "lo", "--fd", "3"},
      {"--fd", "2", "--adapter", "lo"},
      {"--fd", "9", "--adapter", "lo"},
  };
  for (std::vector<std::string> args : cases) {
    const bool regularFile = args.back() == "regular file";
    if (regularFile) args.pop_back();
    SCOPED_TRACE(args[args.size() - 1].substr(0, 40));
    int frames[2], errors[2];
    ASSERT_EQ(pipe2(frames, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(errors, O_CLOEXEC), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      const int target = regularFile ? open("/etc/passwd", O_RDONLY) : frames[1];
      dup2(target, 3);
      dup2(errors[1], 2);
      std::vector<char*> argv{const_cast<char*>("trellan-capture")};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(TRELLAN_CAPTURE_HELPER_BUILT, argv.data());
      _exit(127);
    }
    close(frames[1]);
    close(errors[1]);
    std::string said;
    char chunk[512];
    for (ssize_t n; (n = read(errors[0], chunk, sizeof chunk)) > 0;) said.append(chunk, size_t(n));
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_EQ(read(frames[0], chunk, sizeof chunk), 0);  // nothing was written
    close(frames[0]);
    close(errors[0]);
  }
}
