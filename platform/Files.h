#pragma once
// File operations with the semantics the program's save and temporary files rely on.
// Each returns false on failure with errno telling why (LastError()).
#include <string>
#include <string_view>

namespace platform {

// The temporary folder with a trailing "/": $TMPDIR when set, else /tmp.
std::string TempDirectory();

bool FileExists(const std::string& path);
bool DeleteFile(const std::string& path);

// Renames a file. The temporary folder is often a file system of its own, so a move across
// file systems falls back to copying and then deleting the source; when the copy fails the
// source stays complete where it was and nothing is left at the target.
bool MoveFile(const std::string& from, const std::string& to);

// Copies a file over whatever the target holds. The copy is written beside the target and
// renamed into place, so a failed copy leaves the old target intact. Copying a file onto
// itself succeeds and leaves it untouched.
bool CopyFile(const std::string& from, const std::string& to);

// A new file written beside its target and renamed over it once complete, so that a write
// that fails or is given up never leaves part of a file under the target's name. Each call
// returns false on failure with errno telling why; the temporary file goes with the object
// unless Commit succeeded.
class TFileBeside {
 public:
  TFileBeside() = default;
  TFileBeside(const TFileBeside&) = delete;
  TFileBeside& operator=(const TFileBeside&) = delete;
  ~TFileBeside();
  // Creates the temporary file in the target's folder, with the mode of a new file (0666
  // less the umask).
  bool Create(const std::string& target);
  bool Write(std::string_view text);
  // Flushes the file to the disk and renames it to the target.
  bool Commit();

 private:
  std::string Target_, Temporary_;
  int Fd_ = -1;
};

}  // namespace platform
