#include "platform/FilePath.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/WorkArea.h"

using platform::ChangeFileExt;

TEST(FilePath, SettingsFileNameFromTheExecutable) {
  EXPECT_EQ(ChangeFileExt("/usr/local/bin/trellan", ".ini"), "/usr/local/bin/trellan.ini");
  EXPECT_EQ(ChangeFileExt("/opt/Trellan.exe", ".ini"), "/opt/Trellan.ini");
  EXPECT_EQ(ChangeFileExt("/opt/trellan-1.0/Trellan", ".ini"), "/opt/trellan-1.0/Trellan.ini");
  EXPECT_EQ(ChangeFileExt("/opt/trellan-1.0/Trellan.x.bin", ".ini"),
            "/opt/trellan-1.0/Trellan.x.ini");
  EXPECT_EQ(ChangeFileExt("/home/me/.trellan", ".ini"), "/home/me/.trellan.ini");
  EXPECT_EQ(ChangeFileExt("Trellan", ".ini"), "Trellan.ini");

  const std::string self = platform::ExecutablePath();
  EXPECT_TRUE(self.starts_with('/')) << self;
  EXPECT_TRUE(self.ends_with("/platform_tests")) << self;
}

TEST(WorkArea, ProviderOrTheAreaWithoutADisplay) {
  using platform::WorkAreaRect;
  EXPECT_EQ(platform::WorkArea(), (WorkAreaRect{0, 0, 1024, 768}));
  platform::SetWorkAreaProvider([] { return WorkAreaRect{1920, 32, 2560, 1408}; });
  EXPECT_EQ(platform::WorkArea(), (WorkAreaRect{1920, 32, 2560, 1408}));
  platform::SetWorkAreaProvider(nullptr);
  EXPECT_EQ(platform::WorkArea(), (WorkAreaRect{0, 0, 1024, 768}));
}
