#pragma once
// A capture file read in place: its bytes stay in the kernel's page cache and are reached
// through read-only mappings, so a frame costs the program no memory of its own.
//
// The file is mapped in windows of WindowSize bytes that overlap by the longest record the
// file may hold (SetMaxRecord): window k covers [k * WindowSize, (k + 1) * WindowSize +
// overlap), so every record that starts in a window lies whole in it. Windows are mapped when
// first needed and never move or go away while the file is open, so an address handed out
// stays good and readers on other threads need no lock. A file that grows (the live capture's
// own file, which this program appends to) is told so through Grow and gets windows as far as
// it has grown.
//
// Another program may truncate the file while it is mapped, and touching a mapped page past
// the new end raises SIGBUS. A process-wide handler catches that for addresses inside these
// mappings only: it puts a page of zeros in place of the lost page, marks the file as changed
// and lets the read go on. Changed() then tells the owner, and Recheck() learns the new size,
// after which Bytes() refuses whatever lies past it. Every other SIGBUS goes to the handler
// that was there before (or kills the process, as it would have).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ReservedArray.h"

class TMappedFile {
 public:
  static constexpr size_t WindowSize = size_t(64) << 20;

  TMappedFile();
  ~TMappedFile();
  TMappedFile(const TMappedFile&) = delete;
  TMappedFile& operator=(const TMappedFile&) = delete;

  // Opens `path` for reading. False, with "PATH: system reason" in `error`, when it cannot be
  // opened or is not a regular file. A file on a read-only file system opens.
  bool Open(const std::string& path, std::string& error);
  // Reads a file that this program writes through `fd` (kept open by the caller, which must
  // outlive this object's use of it), `size` bytes long now.
  bool Adopt(int fd, uint64_t size, std::string& error);
  // Unmaps every window and closes the descriptor it opened.
  void Close();
  bool IsOpen() const { return Fd_ >= 0; }
  const std::string& Path() const { return Path_; }
  // The file was moved: the descriptor and the mappings still reach it.
  void Renamed(const std::string& path) { Path_ = path; }
  int Descriptor() const { return Fd_; }

  // The longest span a record may take; set once, before the first Bytes (default 1 MiB).
  void SetMaxRecord(size_t bytes);
  // Bytes that may be read: the size at Open, raised by Grow, lowered by Recheck.
  uint64_t Size() const { return Size_.load(std::memory_order_acquire); }
  // The writer has made the file `size` bytes long (never shorter than before).
  void Grow(uint64_t size);
  // The size back to `size` (the writer truncated its own file, e.g. to start afresh).
  void Shrink(uint64_t size);

  // The address of file bytes [offset, offset + length), or nullptr when they reach past
  // Size(), when length exceeds the overlap, or when the window cannot be mapped (address
  // space exhausted: MapError() then says why).
  // Inline: every row shown reads its frame through here.
  const uint8_t* Bytes(uint64_t offset, size_t length) const {
    const uint64_t size = Size();
    if (length > Overlap_ || offset > size || length > size - offset) return nullptr;
    const size_t k = size_t(offset / WindowSize);
    const uint8_t* window = Window(k);
    return window ? window + (offset - uint64_t(k) * WindowSize) : nullptr;
  }
  // The system's reason why a window could not be mapped; empty when none failed.
  std::string MapError() const;

  // True once a read found a page past the file's end, or Recheck found the file shorter,
  // replaced, or written to by someone else since it was opened.
  bool Changed() const { return Changed_.load(std::memory_order_acquire); }
  // Compares the file on disk (size, modification time, identity) with what this object
  // knows, marks it changed when they differ and lowers Size() when it shrank. Returns
  // Changed(). Not for a file this program writes itself (Adopt), whose changes it makes.
  bool Recheck();

 private:
  uint8_t* Window(size_t k) const {
    if (k < Windows_.Capacity())
      if (uint8_t* window = Windows_[k].load(std::memory_order_acquire)) return window;
    return MapWindow(k);
  }
  // Maps window k, or finds it mapped by another thread meanwhile.
  uint8_t* MapWindow(size_t k) const;
  void Unmap();

  int Fd_ = -1;
  bool OwnsFd_ = false;
  std::string Path_;
  size_t Overlap_ = size_t(1) << 20;
  std::atomic<uint64_t> Size_{0};
  std::atomic<bool> Changed_{false};
  // When the file was opened, to tell an overwrite from this program's own appends.
  int64_t ModifiedAt_ = 0;
  uint64_t Device_ = 0, Inode_ = 0;
  // One entry per window, written once with the window's address.
  platform::TReservedArray<std::atomic<uint8_t*>> Windows_;
  // Windows below this index may be mapped: how far the SIGBUS handler looks.
  mutable std::atomic<size_t> WindowCount_{0};
  mutable std::atomic<int> MapErrno_{0};
  // The slot this file holds in the SIGBUS handler's table, or -1.
  int GuardSlot_ = -1;
  friend struct TMappedFileGuard;
};
