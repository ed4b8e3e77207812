#include "settings/Globals.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "platform/ProfileFile.h"
#include "platform/WorkArea.h"
#include "tests/platform/RandomText.h"
#include "tests/platform/TempFolder.h"

using List = std::vector<std::string>;

namespace {

auto Fields(const TGlobal& g) {
  return std::tie(g.WindowState, g.Left, g.Top, g.Width, g.Height, g.ActiveListViewIndex,
                  g.OpenType, g.AdapterIndex, g.Host, g.UserName, g.Password, g.DontShowJustOne,
                  g.FileName, g.Filter, g.Flags, g.ReadTimeout, g.SnapLen, g.ThreadSafe, g.ViewHexa,
                  g.FollowNewRows, g.FilterList, g.DisplayFilterList, g.TCPDataOffset,
                  g.UDPDataOffset, g.DecodeIPv6AndVLAN);
}

// A folder in which nothing can be created or renamed. Root ignores permission bits, so for
// root the folder is made immutable, which stops root too where the file system allows it.
class UnwritableFolder {
 public:
  explicit UnwritableFolder(const std::string& path) : Path_(path) {
    if (geteuid() != 0) {
      Done_ = chmod(path.c_str(), 0500) == 0;
      return;
    }
    Fd_ = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    if (Fd_ >= 0 && ioctl(Fd_, FS_IOC_GETFLAGS, &flags) == 0) {
      flags |= FS_IMMUTABLE_FL;
      Done_ = ioctl(Fd_, FS_IOC_SETFLAGS, &flags) == 0;
    }
  }
  ~UnwritableFolder() {
    if (Done_ && Fd_ < 0) chmod(Path_.c_str(), 0700);
    int flags = 0;
    if (Done_ && Fd_ >= 0 && ioctl(Fd_, FS_IOC_GETFLAGS, &flags) == 0) {
      flags &= ~FS_IMMUTABLE_FL;
      ioctl(Fd_, FS_IOC_SETFLAGS, &flags);
    }
    if (Fd_ >= 0) close(Fd_);
  }
  UnwritableFolder(const UnwritableFolder&) = delete;
  UnwritableFolder& operator=(const UnwritableFolder&) = delete;

  bool Done() const { return Done_; }

 private:
  std::string Path_;
  int Fd_ = -1;
  bool Done_ = false;
};

// Sets an environment variable for as long as it lives.
class EnvScope {
 public:
  EnvScope(const char* name, const std::string& value) : Name_(name) {
    if (const char* old = getenv(name)) Saved_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~EnvScope() {
    if (Saved_) setenv(Name_, Saved_->c_str(), 1);
    else unsetenv(Name_);
  }
  EnvScope(const EnvScope&) = delete;
  EnvScope& operator=(const EnvScope&) = delete;

 private:
  const char* Name_;
  std::optional<std::string> Saved_;
};

}  // namespace

class Globals : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetWorkAreaProvider(nullptr); }
  void TearDown() override { platform::SetWorkAreaProvider(nullptr); }

  TempFolder Folder;
  const std::string Path = Folder.File("Trellan.ini");
};

TEST_F(Globals, FirstRunGivesEveryDefault) {
  {
    TGlobal g(Path);
    EXPECT_EQ(g.IniFileName, Path);
    EXPECT_EQ(Fields(g), std::make_tuple(0, 212, 159, 600, 450, 0, 0, -1, "", "", "", false, "", "",
                                         1, 1, 65535, true, false, true, List{}, List{}, 0, 0, false));
    EXPECT_FALSE(std::filesystem::exists(Path)) << "loading must not create the file";
  }
  // The end of the run saves: the file is there, private, and reads back as it was.
  EXPECT_EQ(FileMode(Path), 0600u);
  TGlobal again(Path);
  EXPECT_EQ(again.Left, 212);
  EXPECT_EQ(again.SnapLen, 65535);
  EXPECT_TRUE(again.ThreadSafe);
}

TEST_F(Globals, NewWindowIsCentredInTheWorkArea) {
  const struct {
    platform::WorkAreaRect area;
    int32_t left, top;
  } cases[] = {
      {{100, 50, 1920, 1050}, 760, 350},
      {{-1920, 0, 1920, 1080}, -1260, 315},  // a primary screen left of the origin
      {{0, 0, 1025, 769}, 212, 159},
      {{0, 0, 599, 449}, 0, 0},  // smaller than the window: halves are cut toward zero
      {{0, 0, 400, 300}, -100, -75},
  };
  for (const auto& c : cases) {
    platform::SetWorkAreaProvider([area = c.area] { return area; });
    {
      TGlobal g(Path);
      EXPECT_EQ(g.Left, c.left) << c.area.Width;
      EXPECT_EQ(g.Top, c.top) << c.area.Height;
    }
    std::filesystem::remove(Path);  // written at the end of that run, a second run would read it
  }
}

TEST_F(Globals, SettingsFileLiesBesideTheExecutable) {
  std::string path;
  bool existed = false;
  {
    TGlobal g;
    path = g.IniFileName;
    existed = std::filesystem::exists(path);
  }
  EXPECT_TRUE(path.starts_with('/')) << path;
  EXPECT_TRUE(path.ends_with("/settings_tests.ini")) << path;
  EXPECT_TRUE(std::filesystem::exists(path));
  if (!existed) std::filesystem::remove(path);
}

TEST_F(Globals, AnExecutableInAFolderItCannotWriteKeepsItsSettingsInTheConfigFolder) {
  // A build tree or a portable copy: beside the executable, named after it.
  const std::string bin = Folder.File("bin");
  std::filesystem::create_directory(bin);
  EXPECT_EQ(TGlobal::IniFileFor(bin + "/trellan-copy"), bin + "/trellan-copy.ini");

  // Installed: a folder that root cannot write either.
  const EnvScope xdg("XDG_CONFIG_HOME", Folder.File("config"));
  const EnvScope home("HOME", Folder.File("home"));
  UnwritableFolder unwritable(bin);
  if (!unwritable.Done()) GTEST_SKIP() << "cannot make a folder unwritable here";
  const std::string ini = TGlobal::IniFileFor(bin + "/Trellan");
  EXPECT_EQ(ini, Folder.File("config/Trellan/Trellan.ini"));
  EXPECT_EQ(FileMode(Folder.File("config/Trellan")), 0700u);
  {
    TGlobal g(ini);
    g.Filter = "arp";
    g.Width = 640;
  }
  EXPECT_EQ(FileMode(ini), 0600u);
  const TGlobal again(ini);
  EXPECT_EQ(again.Filter, "arp");
  EXPECT_EQ(again.Width, 640);

  // An XDG_CONFIG_HOME that is not absolute is not used: ~/.config is, made when missing.
  const EnvScope relative("XDG_CONFIG_HOME", "config");
  EXPECT_EQ(TGlobal::IniFileFor(bin + "/Trellan"),
            Folder.File("home/.config/Trellan/Trellan.ini"));
  EXPECT_EQ(FileMode(Folder.File("home/.config/Trellan")), 0700u);
}

TEST_F(Globals, MaximisedWindowComesBackAtItsRestoreGeometry) {
  WriteTextFile(Path, "[Coordination]\nWindowState=2\nLeft=-4\nTop=-4\nWidth=1032\nHeight=776\n");
  {
    TGlobal g(Path);
    EXPECT_EQ(g.WindowState, 2);
    EXPECT_EQ(std::tie(g.Left, g.Top, g.Width, g.Height), std::make_tuple(212, 159, 600, 450));
    // Later loads keep the geometry in memory, not the maximised one of the file.
    g.Left = 40;
    g.Top = 30;
    g.Width = 800;
    g.Height = 500;
    g.Load();
    EXPECT_EQ(std::tie(g.Left, g.Top, g.Width, g.Height), std::make_tuple(40, 30, 800, 500));
  }
  // The geometry is saved whatever the state, and read when the window is not maximised.
  platform::ProfileFile ini(Path);
  ASSERT_TRUE(ini.WriteInteger("Coordination", "WindowState", 0));
  ASSERT_TRUE(ini.Commit());
  TGlobal g(Path);
  EXPECT_EQ(std::tie(g.Left, g.Top, g.Width, g.Height), std::make_tuple(40, 30, 800, 500));
}

TEST_F(Globals, IntegersAndBooleansAsFoundInTheFile) {
  const struct {
    const char* text;
    int32_t snapLen;
  } snapLens[] = {{"0x100", 256},        {"$10", 16},
                  {"  42", 42},          {"42a", 65535},
                  {"abc", 65535},        {"", 65535},
                  {"$FFFFFFFF", -1},     {"$123456789", 65535},
                  {"4294967296", 65535}, {"-2147483648", INT32_MIN}};
  for (const auto& c : snapLens) {
    WriteTextFile(Path, std::string("[Quarn]\nSnapLen=") + c.text + "\n");
    TGlobal g(Path);
    EXPECT_EQ(g.SnapLen, c.snapLen) << "SnapLen=" << c.text;
  }
  const struct {
    const char* text;
    bool threadSafe;
  } booleans[] = {{"2", true}, {"0", false}, {"yes", true}, {"-1", true}, {"$0", false}};
  for (const auto& c : booleans) {
    WriteTextFile(Path, std::string("[Quarn]\nThreadSafe=") + c.text + "\n");
    TGlobal g(Path);
    EXPECT_EQ(g.ThreadSafe, c.threadSafe) << "ThreadSafe=" << c.text;
  }

  // A key that has gone from the file gives its default again, not what was in memory.
  WriteTextFile(Path, "[Quarn]\nSnapLen=100\n[AdapterCapture]\nAdapterIndex=3\n");
  TGlobal g(Path);
  EXPECT_EQ(std::tie(g.SnapLen, g.AdapterIndex), std::make_tuple(100, 3));
  WriteTextFile(Path, "");
  g.Load();
  EXPECT_EQ(std::tie(g.SnapLen, g.AdapterIndex), std::make_tuple(65535, -1));
}

TEST_F(Globals, FilterHistoryThroughTheFile) {
  const struct {
    List list;
    const char* line;
  } cases[] = {
      {{"udp port 53", "tcp", ""}, "\"udp port 53\",tcp,"},
      {{"", "udp port 53", "tcp"}, ",\"udp port 53\",tcp"},
      {{"host 10.0.0.1", "arp", "port 80 or port 443"},
       "\"host 10.0.0.1\",arp,\"port 80 or port 443\""},
      {{"ether host \"a\"", "tcp"}, "\"ether host \"\"a\"\"\",tcp"},
      {{""}, "\"\""},
      {{}, ""},
  };
  for (const auto& c : cases) {
    {
      TGlobal g(Path);
      g.FilterList = c.list;
      g.Save();
    }
    EXPECT_NE(ReadTextFile(Path).find(std::string("\nFilterList=") + c.line + "\n"),
              std::string::npos)
        << c.line;
    TGlobal g(Path);
    EXPECT_EQ(g.FilterList, c.list) << c.line;
  }

  // Blanks, quotes, commas, control characters and empty entries, in any mix. Line breaks
  // and NUL are left out: no edit can hold them, and one line of the file cannot either.
  const std::string alphabet = "ab ,\"\t\x01\x1f\x7f\xe9=;[]$";
  std::mt19937 random(7);
  for (int round = 0; round < 100; ++round) {
    const List list = RandomList(random, alphabet, 7, 11);
    {
      TGlobal g(Path);
      g.FilterList = list;
      g.Save();
    }
    TGlobal g(Path);
    ASSERT_EQ(g.FilterList, list) << "round " << round;
  }
}

TEST_F(Globals, KeysInAnotherLetterCaseAreFoundAndReplaced) {
  WriteTextFile(Path, "[quarn]\nsnaplen=100\nFILTER=tcp\n[remotecapture]\nPASSWORD=pw\n");
  {
    TGlobal g(Path);
    EXPECT_EQ(g.SnapLen, 100);
    EXPECT_EQ(g.Filter, "tcp");
    EXPECT_EQ(g.Password, "pw");
    g.SnapLen = 200;
    g.Save();
  }
  const std::string text = ReadTextFile(Path);
  EXPECT_EQ(text.find("snaplen=100"), std::string::npos);
  EXPECT_EQ(text.find("SnapLen=200"), text.rfind("SnapLen=200"));
  EXPECT_EQ(text.find("[Quarn]"), std::string::npos) << "a second Quarn section was added";
  EXPECT_EQ(TGlobal(Path).SnapLen, 200);
}

TEST_F(Globals, LongValuesAreCutWhenRead) {
  std::string filter;
  for (int i = 0; filter.size() < 3000; ++i) filter += "port " + std::to_string(i) + " or ";
  List history;
  for (int i = 0; i < 300; ++i) history.push_back("host 10.0.0." + std::to_string(i));
  {
    TGlobal g(Path);
    g.Filter = filter;
    g.FilterList = history;
    g.Save();
  }
  TGlobal g(Path);
  // Cut to 2047 characters, less the blank the cut leaves at the end: a value read never ends
  // in one, so that it reads as itself once saved again.
  ASSERT_EQ(filter[2046], ' ');
  EXPECT_EQ(g.Filter, filter.substr(0, 2046));
  // The history keeps its most recent entries whole rather than losing the end of the line
  // inside an entry.
  ASSERT_GT(g.FilterList.size(), 10u);
  ASSERT_LT(g.FilterList.size(), history.size());
  EXPECT_EQ(g.FilterList,
            List(history.begin(), history.begin() + std::ptrdiff_t(g.FilterList.size())));
}

TEST_F(Globals, FileWrittenFromNothingHoldsEveryKeyInOrder) {
  const auto g = std::make_unique<TGlobal>(Path);
  g->WindowState = 2;
  g->Left = -8;
  g->Top = 7;
  g->Width = 1024;
  g->Height = 700;
  g->ActiveListViewIndex = 4;
  g->OpenType = 1;
  g->AdapterIndex = 2;
  g->Host = "capture.example";
  g->UserName = "ops";
  g->Password = "plain secret";
  g->DontShowJustOne = true;
  g->FileName = "/tmp/a b.cap";
  g->Filter = "tcp port 80";
  g->Flags = 0;
  g->ReadTimeout = 100;
  g->SnapLen = 96;
  g->ThreadSafe = false;
  g->ViewHexa = true;
  g->FollowNewRows = false;
  g->FilterList = {"tcp port 80", "udp"};
  g->DisplayFilterList = {"ip[8] < 64", "arp"};
  g->TCPDataOffset = 3;
  g->UDPDataOffset = -2;
  g->DecodeIPv6AndVLAN = true;
  g->Save();
  EXPECT_EQ(ReadTextFile(Path),
            "[Coordination]\n"
            "WindowState=2\n"
            "Left=-8\n"
            "Top=7\n"
            "Width=1024\n"
            "Height=700\n"
            "ActiveListViewIndex=4\n"
            "\n"
            "[Option]\n"
            "OpenType=1\n"
            "ViewHexa=1\n"
            "FollowNewRows=0\n"
            "FilterList=\"tcp port 80\",udp\n"
            "DisplayFilterList=\"ip[8] < 64\",arp\n"
            "TCPDataOffset=3\n"
            "UDPDataOffset=-2\n"
            "DecodeIPv6AndVLAN=1\n"
            "\n"
            "[AdapterCapture]\n"
            "AdapterIndex=2\n"
            "\n"
            "[RemoteCapture]\n"
            "Host=capture.example\n"
            "UserName=ops\n"
            "Password=plain secret\n"
            "DontShowJustOne=1\n"
            "\n"
            "[FileCapture]\n"
            "FileName=/tmp/a b.cap\n"
            "\n"
            "[Quarn]\n"
            "Filter=tcp port 80\n"
            "Flags=0\n"
            "ReadTimeout=100\n"
            "SnapLen=96\n"
            "ThreadSafe=0\n");
  EXPECT_EQ(FileMode(Path), 0600u);

  // The main window keeps its column widths in the same file; a save leaves them alone.
  platform::ProfileFile widths(Path);
  ASSERT_TRUE(widths.WriteInteger("lvETH", "Width0", 0));
  ASSERT_TRUE(widths.Commit());
  g->Save();
  EXPECT_EQ(platform::ProfileFile(Path).ReadInteger("lvETH", "Width0", -1), 0);

  // Everything comes back in the next run, the maximised geometry aside.
  g->WindowState = 0;
  g->Save();
  const auto next = std::make_unique<TGlobal>(Path);
  EXPECT_EQ(Fields(*next), Fields(*g));
}

TEST_F(Globals, SaveThatCannotWriteRaisesAndKeepsTheOldFile) {
  {
    TGlobal g(Path);
    g.Filter = "old";
    g.Save();
  }
  const std::string old = ReadTextFile(Path);
  {
    // A folder that is a file.
    TGlobal g(Path + "/Trellan.ini");
    try {
      g.Save();
      ADD_FAILURE() << "no error";
    } catch (const EIniFileException& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + g.IniFileName);
    }
  }
  EXPECT_EQ(ReadTextFile(Path), old);

  UnwritableFolder unwritable(Folder.Path());
  if (!unwritable.Done()) GTEST_SKIP() << "cannot make a folder unwritable here";
  TGlobal g(Path);
  g.Filter = "new";
  try {
    g.Save();
    ADD_FAILURE() << "no error";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + Path);
  }
  EXPECT_EQ(ReadTextFile(Path), old);
  EXPECT_EQ(g.Filter, "new") << "the values in memory stay as they were";
}
