#pragma once
// An ini file ("profile"), read whole when it is opened and changed in memory; Commit puts the
// changes on disk in one step.
//
// A section starts with a line "[Name]"; an entry is a line "Key=Value". Section and key names
// match without regard to ASCII letter case, the first section and the first key of a name
// being the ones used. A value is the text after the first "=", blanks (spaces, tabs, a
// carriage return) around it dropped, and nothing else: quotes around it stay, and ";" or "#"
// inside it are part of it (filters and passwords may hold them). Lines whose first non-blank
// character is ";" or "#" are comments. Lines that are neither entries nor headers are kept as
// they are.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class ProfileFile {
 public:
  // The longest value a read returns; a longer one is cut to its first MaxValueLength
  // characters.
  static constexpr size_t MaxValueLength = 2047;

  // Reads the file at path now. A missing file reads as an empty one.
  explicit ProfileFile(std::string path);

  const std::string& Path() const { return Path_; }

  // Whatever the file holds, the value read can be written back and reads again as itself:
  // it ends before a carriage return or NUL inside it (neither can be written on a line), and
  // blanks that a cut leaves at its end are dropped as a read of the written value would.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // An integer by the rule of StrToIntDef; def when absent or not an integer.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
  // Any integer but 0 is true; def when absent or not an integer.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;

  // Sets a key in memory: its line is replaced, or the entry is added after the last line of
  // its section, or the section is added at the end. Returns false and changes nothing when
  // the names or the value cannot be kept on one line (a line break or a NUL, a "=" in the
  // key, a "]" in the section, an empty name).
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);
  bool WriteInteger(std::string_view section, std::string_view key, int32_t value);
  // Written as "1" or "0".
  bool WriteBool(std::string_view section, std::string_view key, bool value);

  // Replaces the file on disk with the text in memory: the text goes to a new file beside it,
  // which is flushed to disk and then renamed over the old one, so the file is never seen half
  // written. A new file gets mode 0600 (it may hold a password); an existing one keeps its
  // mode, and its owner when saved by root; a link is followed and the file it names replaced.
  // Returns false, errno telling why, with the old file untouched. A file that exists but could
  // not be read is never replaced, so that its other sections are not lost.
  bool Commit();

 private:
  size_t FindSection(std::string_view section) const;
  size_t SectionEnd(size_t header) const;
  size_t FindKey(size_t header, std::string_view key) const;

  std::string Path_;
  std::vector<std::string> Lines_;
  int ReadError_ = 0;  // errno of a failed read of an existing file
};

}  // namespace platform
