// Moving and copying capture files: across file systems, onto themselves, and failing
// without losing anything.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/mount.h>
#include <unistd.h>
#include <csignal>
#include <chrono>
#include <sys/wait.h>
#include <thread>

#include "platform/Files.h"
#include "tests/common/Frames.h"

namespace {
void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
bool SameFileSystem(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev;
}
}  // namespace

TEST(Files, TempDirectoryEndsWithASlash) {
  const char* saved = getenv("TMPDIR");
  const std::string keep = saved ? saved : "";
  setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(platform::TempDirectory(), "/var/tmp/");
  unsetenv("TMPDIR");
  EXPECT_EQ(platform::TempDirectory(), "/tmp/");
  if (saved) setenv("TMPDIR", keep.c_str(), 1);
}

TEST(Files, MoveReplacesTheTargetAndWorksAcrossFileSystems) {
  TempDir here;
  Write(here.File("a.$$$"), "frames");
  Write(here.File("b.cap"), "old");
  ASSERT_TRUE(platform::MoveFile(here.File("a.$$$"), here.File("b.cap")));
  EXPECT_EQ(Read(here.File("b.cap")), "frames");
  EXPECT_FALSE(platform::FileExists(here.File("a.$$$")));

  // /dev/shm is a file system of its own on Linux.
  if (!std::filesystem::is_directory("/dev/shm") || SameFileSystem("/dev/shm", here.Path()))
    GTEST_SKIP() << "no second file system to move across";
  const std::string other = "/dev/shm/trellan-move-" + std::to_string(getpid()) + ".$$$";
  const std::string big(3 << 20, 'x');
  Write(other, big);
  ASSERT_TRUE(platform::MoveFile(other, here.File("c.cap"))) << errno;
  EXPECT_EQ(Read(here.File("c.cap")), big);
  EXPECT_FALSE(platform::FileExists(other));
}

TEST(Files, AFailedMoveOrCopyLosesNothing) {
  TempDir here;
  Write(here.File("a.$$$"), "frames");
  EXPECT_FALSE(platform::MoveFile(here.File("a.$$$"), here.File("missing/b.cap")));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(Read(here.File("a.$$$")), "frames");
  EXPECT_FALSE(platform::CopyFile("", here.File("b.cap")));  // nothing captured yet
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(platform::FileExists(here.File("b.cap")));
}

TEST(Files, CopyOntoItselfLeavesTheFileAndCopyReplacesOthers) {
  TempDir here;
  Write(here.File("a.cap"), "capture");
  EXPECT_TRUE(platform::CopyFile(here.File("a.cap"), here.File("a.cap")));
  EXPECT_EQ(Read(here.File("a.cap")), "capture");
  // Through another name of the same file, too.
  EXPECT_TRUE(platform::CopyFile(here.File("a.cap"), here.Path() + "/./a.cap"));
  EXPECT_EQ(Read(here.File("a.cap")), "capture");
  Write(here.File("b.cap"), "something much longer than the source");
  EXPECT_TRUE(platform::CopyFile(here.File("a.cap"), here.File("b.cap")));
  EXPECT_EQ(Read(here.File("b.cap")), "capture");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(here.Path()), {}), 2);
}

TEST(Files, CopyOntoAFullFileSystemKeepsTheOldTarget) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  TempDir here;
  const std::string mount = here.File("small");
  std::filesystem::create_directory(mount);
  if (::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "no tmpfs";
  Write(mount + "/target.cap", "old capture");
  Write(here.File("big.cap"), std::string(2 << 20, 'x'));
  EXPECT_FALSE(platform::CopyFile(here.File("big.cap"), mount + "/target.cap"));
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(Read(mount + "/target.cap"), "old capture");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(mount), {}), 1);  // no leftovers
  // A move across file systems that does not fit keeps the source complete.
  EXPECT_FALSE(platform::MoveFile(here.File("big.cap"), mount + "/moved.cap"));
  EXPECT_EQ(std::filesystem::file_size(here.File("big.cap")), size_t(2 << 20));
  umount(mount.c_str());
}

TEST(Files, KilledDuringACopyLeavesTheOldTargetOrTheWholeNewOne) {
  TempDir here;
  const std::string source = here.File("new.cap");
  const std::string target = here.File("target.cap");
  const std::string fresh(64 << 20, 'n');
  Write(source, fresh);
  for (int delayMs : {0, 2, 5, 10, 20, 40, 80}) {
    Write(target, "old");
    const pid_t child = fork();
    if (child == 0) _exit(platform::CopyFile(source, target) ? 0 : 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const std::string now = Read(target);
    EXPECT_TRUE(now == "old" || now == fresh) << "after " << delayMs << " ms: " << now.size() << " bytes";
    // A copy cut short leaves its scratch file beside the target, never in its place.
    for (const auto& e : std::filesystem::directory_iterator(here.Path()))
      if (e.path() != source && e.path() != target) std::filesystem::remove(e.path());
  }
}
