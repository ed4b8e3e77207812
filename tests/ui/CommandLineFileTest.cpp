// Trellan FILE: the window the program starts with that file in it, through the entry point
// the program uses.
#include <gtest/gtest.h>

#include "tests/ui/WindowFixture.h"
#include "ui/CommandLine.h"
#include "ui/FormMain.h"

namespace {
// The program's start with `file` on its command line, up to the event loop.
void Start(TMainForm& form, const std::string& file) {
  const char* argv[] = {"Trellan", file.c_str()};
  const TCommandLine line = ParseCommandLine(2, argv);
  ASSERT_EQ(line.Action, TCommandLine::TAction::Run);
  form.CreateSourceDialogs();
  form.show();
  form.OpenFileAtStart(line.File);
  ProcessEvents();
}
}  // namespace

TEST(CommandLineFile, ShowsEveryFrameWhateverTheStoredFilterAndAnUnreadableFileLeavesAnEmptyWindow) {
  TSettingsScope scope;
  // A filter kept from an earlier capture must not narrow a file given by name.
  Global->Filter = "arp";
  Global->Save();
  const std::string file = scope.Dir.File("given.cap");
  std::vector<Record> records(3);
  records[0].frame = TcpFrame({}, Text("hello"));
  records[1].frame = UdpFrame(1, 2, Text("x"));
  records[2].frame = Ethernet(kMacA, kMacB, 0x0806, ARPRequest(kMacB, 1, 2));
  WritePcap(file, records);
  {
    TMainForm form;
    Start(form, file);
    EXPECT_TRUE(scope.Answers.Boxes.empty());
    EXPECT_EQ(form.ListView(viETH)->ItemCount(), 3);
    EXPECT_EQ(Cell(form.lvETH, 2, 0), "3");
    EXPECT_EQ(form.CurrentFileName, file);
    EXPECT_TRUE(form.ActionSave->isEnabled());
    form.close();
  }
  // The filter stays stored, and the file is the one the Open dialog offers next time.
  scope.Reopen();
  EXPECT_EQ(Global->Filter, "arp");
  EXPECT_EQ(Global->FileName, file);
  EXPECT_EQ(Global->OpenType, 2);

  TMainForm form;
  Start(form, scope.Dir.File("missing.cap"));
  ASSERT_EQ(scope.Answers.Boxes.size(), 1u);
  EXPECT_TRUE(scope.Answers.Boxes[0].Error);
  EXPECT_TRUE(scope.Answers.Boxes[0].Text.contains("No such file"))
      << scope.Answers.Boxes[0].Text.toStdString();
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.ListView(viETH)->ItemCount(), 0);
  EXPECT_EQ(form.CurrentFileName, "");
  form.close();
}
