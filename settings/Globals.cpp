#include "settings/Globals.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <utility>

#include "platform/CommaText.h"
#include "platform/FilePath.h"
#include "platform/Format.h"
#include "platform/ProfileFile.h"
#include "platform/WorkArea.h"

TGlobal* Global = nullptr;

namespace {
constexpr char kCoordination[] = "Coordination";
constexpr char kOption[] = "Option";
constexpr char kAdapterCapture[] = "AdapterCapture";
constexpr char kRemoteCapture[] = "RemoteCapture";
constexpr char kFileCapture[] = "FileCapture";
constexpr char kQuarn[] = "Quarn";

constexpr int32_t kMaximised = 2;
}  // namespace

TGlobal::TGlobal() : TGlobal(IniFileFor(platform::ExecutablePath())) {}

std::string TGlobal::IniFileFor(const std::string& executable) {
  const size_t slash = executable.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0              ? "/"
                                                       : executable.substr(0, slash);
  // The kernel's answer, not the permission bits: it also says no to root on a read-only mount
  // or an immutable folder, where root's settings could not be written either.
  if (::access(folder.c_str(), W_OK) == 0) return platform::ChangeFileExt(executable, ".ini");

  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    config = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const passwd* user = ::getpwuid(::getuid());
      home = user ? user->pw_dir : "/";
    }
    config = std::string(home) + "/.config";
  }
  const std::string own = config + "/Trellan";
  // A folder that cannot be made shows later, when Save reports the file it cannot write.
  std::error_code ignored;
  std::filesystem::create_directories(config, ignored);
  ::mkdir(own.c_str(), 0700);
  return own + "/Trellan.ini";
}

TGlobal::TGlobal(std::string iniFileName) : IniFileName(std::move(iniFileName)) {
  const platform::WorkAreaRect area = platform::WorkArea();
  Left = area.Left + (area.Width - Width) / 2;
  Top = area.Top + (area.Height - Height) / 2;
  Load();
}

TGlobal::~TGlobal() {
  try {
    Save();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  }
}

void TGlobal::Load() {
  const platform::ProfileFile ini(IniFileName);
  WindowState = ini.ReadInteger(kCoordination, "WindowState", 0);
  if (WindowState != kMaximised) {
    Left = ini.ReadInteger(kCoordination, "Left", Left);
    Top = ini.ReadInteger(kCoordination, "Top", Top);
    Width = ini.ReadInteger(kCoordination, "Width", Width);
    Height = ini.ReadInteger(kCoordination, "Height", Height);
  }
  ActiveListViewIndex = ini.ReadInteger(kCoordination, "ActiveListViewIndex", 0);
  OpenType = ini.ReadInteger(kOption, "OpenType", 0);
  AdapterIndex = ini.ReadInteger(kAdapterCapture, "AdapterIndex", -1);
  Host = ini.ReadString(kRemoteCapture, "Host", "");
  UserName = ini.ReadString(kRemoteCapture, "UserName", "");
  Password = ini.ReadString(kRemoteCapture, "Password", "");
  DontShowJustOne = ini.ReadBool(kRemoteCapture, "DontShowJustOne", false);
  FileName = ini.ReadString(kFileCapture, "FileName", "");
  Filter = ini.ReadString(kQuarn, "Filter", "");
  Flags = ini.ReadInteger(kQuarn, "Flags", 1);
  ReadTimeout = ini.ReadInteger(kQuarn, "ReadTimeout", 1);
  SnapLen = ini.ReadInteger(kQuarn, "SnapLen", 65535);
  ThreadSafe = ini.ReadBool(kQuarn, "ThreadSafe", true);
  ViewHexa = ini.ReadBool(kOption, "ViewHexa", false);
  FollowNewRows = ini.ReadBool(kOption, "FollowNewRows", true);
  // Save writes the leading entries whose line fits in a value. A line that reads as a longer
  // one (written by hand, or cut inside a quoted entry by the length limit) keeps just those,
  // so that the history is saved and loaded again as it is.
  auto readHistory = [&](const char* key) {
    std::vector<std::string> history = platform::ParseCommaText(ini.ReadString(kOption, key, ""));
    history.resize(platform::ParseCommaText(
        platform::CommaText(history, platform::ProfileFile::MaxValueLength)).size());
    return history;
  };
  FilterList = readHistory("FilterList");
  DisplayFilterList = readHistory("DisplayFilterList");
  TCPDataOffset = ini.ReadInteger(kOption, "TCPDataOffset", 0);
  UDPDataOffset = ini.ReadInteger(kOption, "UDPDataOffset", 0);
  DecodeIPv6AndVLAN = ini.ReadBool(kOption, "DecodeIPv6AndVLAN", false);
}

void TGlobal::Save() {
  // Read afresh, so that the sections others keep in the file (column widths) stay as they are.
  platform::ProfileFile ini(IniFileName);
  // A longer history line would be cut when read, perhaps inside an entry; the oldest entries
  // that do not fit are left out instead.
  const std::string history =
      platform::CommaText(FilterList, platform::ProfileFile::MaxValueLength);
  const std::string displayHistory =
      platform::CommaText(DisplayFilterList, platform::ProfileFile::MaxValueLength);
  const bool written =
      ini.WriteInteger(kCoordination, "WindowState", WindowState) &&
      ini.WriteInteger(kCoordination, "Left", Left) &&
      ini.WriteInteger(kCoordination, "Top", Top) &&
      ini.WriteInteger(kCoordination, "Width", Width) &&
      ini.WriteInteger(kCoordination, "Height", Height) &&
      ini.WriteInteger(kCoordination, "ActiveListViewIndex", ActiveListViewIndex) &&
      ini.WriteInteger(kOption, "OpenType", OpenType) &&
      ini.WriteInteger(kAdapterCapture, "AdapterIndex", AdapterIndex) &&
      ini.WriteString(kRemoteCapture, "Host", Host) &&
      ini.WriteString(kRemoteCapture, "UserName", UserName) &&
      ini.WriteString(kRemoteCapture, "Password", Password) &&
      ini.WriteBool(kRemoteCapture, "DontShowJustOne", DontShowJustOne) &&
      ini.WriteString(kFileCapture, "FileName", FileName) &&
      ini.WriteString(kQuarn, "Filter", Filter) && ini.WriteInteger(kQuarn, "Flags", Flags) &&
      ini.WriteInteger(kQuarn, "ReadTimeout", ReadTimeout) &&
      ini.WriteInteger(kQuarn, "SnapLen", SnapLen) &&
      ini.WriteBool(kQuarn, "ThreadSafe", ThreadSafe) &&
      ini.WriteBool(kOption, "ViewHexa", ViewHexa) &&
      ini.WriteBool(kOption, "FollowNewRows", FollowNewRows) &&
      ini.WriteString(kOption, "FilterList", history) &&
      ini.WriteString(kOption, "DisplayFilterList", displayHistory) &&
      ini.WriteInteger(kOption, "TCPDataOffset", TCPDataOffset) &&
      ini.WriteInteger(kOption, "UDPDataOffset", UDPDataOffset) &&
      ini.WriteBool(kOption, "DecodeIPv6AndVLAN", DecodeIPv6AndVLAN) && ini.Commit();
  if (!written) throw EIniFileException(platform::Format("Unable to write to %s", {IniFileName}));
}
