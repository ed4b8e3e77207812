#include "platform/ProfileFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "tests/platform/TempFolder.h"

using platform::ProfileFile;

namespace {
size_t EntriesIn(const std::string& folder) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}
}  // namespace

TEST(ProfileFile, FindsSectionsAndKeysInAnyLetterCase) {
  TempFolder folder;
  const std::string path = folder.File("Trellan.ini");
  WriteTextFile(path,
                "; written by hand\r\n"
                "[quarn]\r\n"
                "  snaplen =  0x100 \r\n"
                "#filter=comment\r\n"
                "FILTER = tcp port 80 ; and more \r\n"
                "Filter=second of the name\r\n"
                "[ RemoteCapture ]\n"
                "Password=\"pass word\"\n"
                "Host=a=b\n"
                "Empty=\n");
  const ProfileFile ini(path);
  EXPECT_EQ(ini.ReadInteger("Quarn", "SnapLen", 65535), 256);
  EXPECT_EQ(ini.ReadString("QUARN", "filter", "-"), "tcp port 80 ; and more");
  EXPECT_EQ(ini.ReadString("RemoteCapture", "Password", ""), "\"pass word\"");
  EXPECT_EQ(ini.ReadString("remotecapture", "HOST", ""), "a=b");
  EXPECT_EQ(ini.ReadString("RemoteCapture", "Empty", "default"), "");
  EXPECT_EQ(ini.ReadInteger("RemoteCapture", "Empty", 7), 7);
  // A key is found only in its own section.
  EXPECT_EQ(ini.ReadString("RemoteCapture", "Filter", "none"), "none");
  EXPECT_EQ(ini.ReadString("Option", "SnapLen", "none"), "none");
  EXPECT_EQ(ini.ReadString("Quarn", "#filter", "none"), "none");

  EXPECT_EQ(ProfileFile(folder.File("missing.ini")).ReadString("Quarn", "Filter", "none"), "none");
}

TEST(ProfileFile, WritesReplaceTheLineOrAppendToTheSectionOrAddTheSection) {
  TempFolder folder;
  const std::string path = folder.File("Trellan.ini");
  WriteTextFile(path,
                "[Coordination]\n"
                "left=10\n"
                "; keep me\n"
                "\n"
                "[lvETH]\n"
                "Width0=-1\n");
  ProfileFile ini(path);
  EXPECT_TRUE(ini.WriteInteger("COORDINATION", "Left", -20));
  EXPECT_TRUE(ini.WriteInteger("Coordination", "Top", 30));
  EXPECT_TRUE(ini.WriteBool("Quarn", "ThreadSafe", true));
  EXPECT_TRUE(ini.WriteString("Quarn", "Filter", "\"udp port 53\",tcp,"));
  // Nothing reaches the disk before the commit.
  EXPECT_EQ(ReadTextFile(path).find("Top"), std::string::npos);
  ASSERT_TRUE(ini.Commit());
  EXPECT_EQ(ReadTextFile(path),
            "[Coordination]\n"
            "Left=-20\n"
            "; keep me\n"
            "Top=30\n"
            "\n"
            "[lvETH]\n"
            "Width0=-1\n"
            "\n"
            "[Quarn]\n"
            "ThreadSafe=1\n"
            "Filter=\"udp port 53\",tcp,\n");
  EXPECT_EQ(ProfileFile(path).ReadString("Quarn", "Filter", ""), "\"udp port 53\",tcp,");
}

TEST(ProfileFile, RefusesWhatOneLineCannotHold) {
  TempFolder folder;
  const std::string path = folder.File("Trellan.ini");
  ProfileFile ini(path);
  EXPECT_FALSE(ini.WriteString("Quarn", "Filter", "tcp\n[Option]"));
  EXPECT_FALSE(ini.WriteString("Quarn", "Filter", "tcp\rudp"));
  EXPECT_FALSE(ini.WriteString("Quarn", "Filter", std::string("tcp\0", 4)));
  EXPECT_FALSE(ini.WriteString("Quarn", "A=B", "1"));
  EXPECT_FALSE(ini.WriteString("Qu]arn", "Filter", "1"));
  EXPECT_FALSE(ini.WriteString("", "Filter", "1"));
  EXPECT_FALSE(ini.WriteString("Quarn", "", "1"));
  ASSERT_TRUE(ini.Commit());
  EXPECT_EQ(ReadTextFile(path), "");
}

TEST(ProfileFile, CommitMakesPrivateFilesAndKeepsModeOwnerAndLink) {
  TempFolder folder;
  const std::string path = folder.File("Trellan.ini");
  const mode_t oldMask = umask(0);  // a permissive umask must not make the password readable
  {
    ProfileFile ini(path);
    ASSERT_TRUE(ini.WriteString("RemoteCapture", "Password", "secret"));
    ASSERT_TRUE(ini.Commit());
  }
  umask(oldMask);
  EXPECT_EQ(FileMode(path), 0600u);

  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  {
    ProfileFile ini(path);
    ASSERT_TRUE(ini.WriteString("RemoteCapture", "Password", "changed"));
    ASSERT_TRUE(ini.Commit());
  }
  EXPECT_EQ(FileMode(path), 0640u);
  EXPECT_EQ(EntriesIn(folder.Path()), 1u) << "a temporary file was left behind";

  if (geteuid() == 0) {
    // Saved by root (who captures), a user's file stays the user's.
    ASSERT_EQ(chown(path.c_str(), 12345, 12346), 0);
    ProfileFile ini(path);
    ASSERT_TRUE(ini.WriteString("RemoteCapture", "Password", "as root"));
    ASSERT_TRUE(ini.Commit());
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 12345u);
    EXPECT_EQ(st.st_gid, 12346u);
  }

  // A settings file linked from elsewhere stays a link; the file it names is the one replaced.
  const std::string link = folder.File("link.ini");
  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  {
    ProfileFile ini(link);
    ASSERT_TRUE(ini.WriteString("RemoteCapture", "Password", "through the link"));
    ASSERT_TRUE(ini.Commit());
  }
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ProfileFile(path).ReadString("RemoteCapture", "Password", ""), "through the link");
}

TEST(ProfileFile, FailedCommitLeavesTheOldFile) {
  TempFolder folder;
  const std::string path = folder.File("Trellan.ini");
  const std::string old = "[Quarn]\nFilter=old\n";
  WriteTextFile(path, old);

  // The disk fills up in the middle of the save: the file size limit makes the write fail
  // after its first bytes, for root as for anyone.
  {
    ProfileFile ini(path);
    ASSERT_TRUE(ini.WriteString("Quarn", "Filter", std::string(4096, 'n')));
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit oldLimit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
    rlimit small = oldLimit;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool committed = ini.Commit();
    const int error = errno;
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(committed);
    EXPECT_EQ(error, EFBIG);
  }
  EXPECT_EQ(ReadTextFile(path), old);
  EXPECT_EQ(EntriesIn(folder.Path()), 1u) << "a temporary file was left behind";

  // A folder that is not one.
  {
    ProfileFile ini(path + "/Trellan.ini");
    ASSERT_TRUE(ini.WriteString("Quarn", "Filter", "new"));
    EXPECT_FALSE(ini.Commit());
  }
  EXPECT_EQ(ReadTextFile(path), old);

  // Something that cannot be read is not replaced by what was written without it.
  const std::string unreadable = folder.File("folder.ini");
  ASSERT_EQ(mkdir(unreadable.c_str(), 0700), 0);
  {
    ProfileFile ini(unreadable);
    ASSERT_TRUE(ini.WriteString("Quarn", "Filter", "new"));
    EXPECT_FALSE(ini.Commit());
  }
  EXPECT_TRUE(std::filesystem::is_directory(unreadable));
}
