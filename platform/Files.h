#pragma once
// File operations with the semantics the program's save and temporary files rely on.
// Each returns false on failure with errno telling why (LastError()).
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace platform {

// The temporary folder with a trailing "/": $TMPDIR when set, else /tmp.
std::string TempDirectory();

bool FileExists(const std::string& path);
bool DeleteFile(const std::string& path);
// Whether both names reach the same file (through links, or "." and "..").
bool SameFile(const std::string& a, const std::string& b);

// Creates `path` as a new file, open for reading and writing and readable by its owner only
// (0600): never a file that exists already, nor one a symbolic link points to. When its name
// holds six X's ("tempXXXXXX.$$$"), the last six are first replaced with random characters,
// in the same step, so that no other user can guess the name or take it first; `path` then
// holds the name made. Returns the descriptor (close-on-exec), or -1 with errno set.
int CreateNewFile(std::string& path);
// The mode a new file of the user's gets: 0666 less the umask.
mode_t NewFileMode();

// Renames a file. The temporary folder is often a file system of its own, so a move across
// file systems falls back to copying and then deleting the source; when the copy fails the
// source stays complete where it was and nothing is left at the target. The file keeps its
// mode, or gets `mode` once it is at the target.
bool MoveFile(const std::string& from, const std::string& to,
              std::optional<mode_t> mode = std::nullopt);

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
  // Creates the temporary file in the target's folder, under a name of its own that no other
  // user can guess, readable by its owner only while it is written. A target that is a device
  // or a pipe is written into instead, as renaming over it would replace it.
  bool Create(const std::string& target);
  bool Write(std::string_view text);
  int Descriptor() const { return Fd_; }
  // Gives the file `mode`, flushes it to the disk and renames it to the target (a device or a
  // pipe is only closed).
  bool Commit(mode_t mode = NewFileMode());

 private:
  std::string Target_, Temporary_;
  int Fd_ = -1;
};

}  // namespace platform
