// The command lines of Trellan and trellan-rows as a shell sees them: --help on standard output
// with status 0, --version with the program's and the capture library's versions, and an
// unknown option on standard error with a failing status.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pcap/pcap.h>
#include <sstream>
#include <sys/wait.h>

#include "tests/common/Frames.h"

namespace {
struct Output {
  int status;
  std::string out, err;
};

std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The window program, when a fault lets it get past its arguments, runs without a display and
// with its settings beside a copy in the test's folder, not in the build tree.
Output Started(const std::string& program, const std::string& args) {
  TempDir dir;
  const std::string copy = dir.File(program.substr(program.rfind('/') + 1));
  std::filesystem::copy_file(program, copy);
  const std::string command = "QT_QPA_PLATFORM=offscreen " + copy + " " + args + " >" +
                              dir.File("out") + " 2>" + dir.File("err") + " </dev/null";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Read(dir.File("out")),
          Read(dir.File("err"))};
}
}  // namespace

TEST(CommandLine, HelpVersionAndUnknownOptionsOfBothPrograms) {
  for (const auto& [program, name] : {std::pair<std::string, std::string>{TRELLAN_PROGRAM, "Trellan"},
                                      {TRELLAN_ROWS, "trellan-rows"}}) {
    SCOPED_TRACE(name);
    const Output help = Started(program, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("usage: " + name + " ")) << help.out;
    EXPECT_NE(help.out.find(name + " --help | --version\n"), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");

    const Output version = Started(program, "--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, name + " " + TRELLAN_VERSION + "\n" + pcap_lib_version() + "\n");
    EXPECT_EQ(version.err, "");

    const Output unknown = Started(program, "--frobnicate some.cap");
    EXPECT_NE(unknown.status, 0);
    EXPECT_EQ(unknown.out, "");
    // The window program's error follows whatever the display library said on its way up.
    EXPECT_NE(unknown.err.find(name + ": unknown option --frobnicate\nusage: " + name),
              std::string::npos)
        << unknown.err;
  }
}
