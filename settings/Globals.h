#pragma once
// The program's settings: one object, Global, working copy of one ini file (beside the
// executable, or in the user's configuration folder; see IniFileFor). Every persistent field
// bears the name of its key in that file.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Raised by Save when the settings file cannot be written.
class EIniFileException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TGlobal {
 public:
  // The settings file is IniFileFor(the running executable).
  TGlobal();
  // The settings file is iniFileName. Both constructors centre a 600 by 450 window in the work
  // area, then Load.
  explicit TGlobal(std::string iniFileName);
  // Saves; a failure is reported on stderr, as nothing is left to show it at exit.
  ~TGlobal();
  TGlobal(const TGlobal&) = delete;
  TGlobal& operator=(const TGlobal&) = delete;

  // Reads every field from the file; an absent key or a value that is not a number gives the
  // field's default. With WindowState 2 (maximised) the stored geometry is the maximised one
  // and the geometry in memory is kept, so the window restores to it.
  void Load();
  // Writes every field and puts the file on disk at once, replacing it whole. Raises
  // EIniFileException "Unable to write to <file>" when that fails; the file is then as before.
  void Save();

  // The settings file for the executable at `executable`: its path with the extension ".ini"
  // when its folder can be written (a build tree, a portable copy), so that each copy keeps its
  // own; otherwise, as for an installed program, $XDG_CONFIG_HOME/Trellan/Trellan.ini
  // (~/.config when that is unset or not absolute), whose Trellan folder is created here,
  // for its owner only, when missing.
  static std::string IniFileFor(const std::string& executable);

  std::string IniFileName;

  // Load, which the constructor calls, gives a field whose key the file lacks its default;
  // the defaults are written down there. The geometry alone keeps its value instead: Width and
  // Height start at 600 by 450, and Left and Top centre that in the work area.

  // Coordination: the main window.
  int32_t WindowState{};  // 0 normal, 1 minimised, 2 maximised
  int32_t Left{};
  int32_t Top{};
  int32_t Width = 600;
  int32_t Height = 450;
  int32_t ActiveListViewIndex{};  // the page of the view tabs, 0 Ethernet .. 7 UDP Data

  int32_t OpenType{};      // Option: 0 local adapter, 1 remote host, 2 capture file
  int32_t AdapterIndex{};  // AdapterCapture: position in the adapter list, -1 none

  // RemoteCapture. The password is kept as plain text, in the file too.
  std::string Host;
  std::string UserName;
  std::string Password;
  bool DontShowJustOne{};  // skip the adapter chooser when the host has just one adapter

  std::string FileName;  // FileCapture

  // Quarn: what the capture component is opened with.
  std::string Filter;
  int32_t Flags{};        // capture library open flags, 1 promiscuous
  int32_t ReadTimeout{};  // milliseconds
  int32_t SnapLen{};
  bool ThreadSafe{};  // frames handled on the user-interface thread

  // Option, after OpenType.
  bool ViewHexa{};
  bool FollowNewRows = true;  // a view at its last row keeps to the newest rows
  std::vector<std::string> FilterList;  // filter history, most recent first
  std::vector<std::string> DisplayFilterList;  // display filter history, most recent first
  int32_t TCPDataOffset{};
  int32_t UDPDataOffset{};
  // View > Decode IPv6 and VLAN: frames decoded through VLAN tags, IPv4 header lengths and
  // fragments, and IPv6; off, they are filed by their type codes alone.
  bool DecodeIPv6AndVLAN{};
};

// The program's one settings object: created at start-up before the main window, destroyed
// after it; nullptr outside that time.
extern TGlobal* Global;
