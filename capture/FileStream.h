#pragma once
// A capture file read once from front to back, for the pass that files every frame: a thread
// of its own reads the file with pread() into a ring of buffers ahead of the reader, which
// asks for byte ranges in the order the records lie.
//
// Why not the mapping the rows are read through: touching a mapped page that the kernel holds
// in small pieces costs a page fault for every few of them, and a capture just written by a
// capture program or copied in is held so. On this machine that made the pass over a million
// frames four times as slow as reading the same file with read(); copying the bytes out
// costs the same whatever the page cache holds, and the copy is made on the other core. The
// ring is mapped once per read in huge pages, for the same reason.
//
// Bytes() hands out the address of a range within one buffer; a range that crosses into the
// next buffer, or goes back before the current one (a pcapng block's trailer is checked before
// its body), is read with a pread() of its own into a separate buffer. Either address stays
// good until the next call. A file found shorter than its size at the start (cut while it is
// read) or a failed read ends the ranges there: Bytes() gives nullptr and Failure() says why.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TFileStream {
 public:
  // Chunks of 1 MiB, eight ahead at most: chunks of 256 KiB to 4 MiB and rings of 4 to 16
  // measured alike on a two-core machine, 64 KiB chunks a quarter slower (a call each). The
  // tests use tiny chunks to cross every seam.
  static constexpr size_t DefaultChunk = size_t(1024) << 10;
  static constexpr size_t RingChunks = 8;

  explicit TFileStream(size_t chunkBytes = DefaultChunk);
  ~TFileStream();
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  // Starts reading bytes [0, size) of `fd`, which stays the caller's and must stay open while
  // this object reads it.
  void Start(int fd, uint64_t size);
  uint64_t Size() const { return Size_; }
  // The address of bytes [offset, offset + length), good until the next call; nullptr when
  // they reach past Size() or could not be read.
  // Inline: the parser asks twice for every record, and nearly always within the chunk it is in.
  const uint8_t* Bytes(uint64_t offset, size_t length) {
    if (offset >= InChunkFrom_ && offset + length <= InChunkTo_)
      return InChunk_ + (offset - InChunkFrom_);
    return BytesElsewhere(offset, length);
  }
  // Why a range could not be read; empty when none failed.
  std::string Failure() const;

 private:
  const uint8_t* BytesElsewhere(uint64_t offset, size_t length);
  void ReadAhead();
  // Waits until chunk k is read (or the reading ended before it); its byte count, or -1.
  int64_t AwaitChunk(uint64_t k);
  const uint8_t* ReadApart(uint64_t offset, size_t length);

  const size_t Chunk_;
  int Fd_ = -1;
  uint64_t Size_ = 0;
  // RingChunks chunks, in huge pages where the system has them: fresh small pages would cost a
  // fault each, on every file read.
  uint8_t* Ring_ = nullptr;
  size_t RingBytes_ = 0;
  std::unique_ptr<uint8_t[]> SmallRing_;
  std::vector<int64_t> Filled_;  // bytes read into each slot of the ring
  std::vector<uint8_t> Apart_;
  // The chunk whose slot Bytes() hands out addresses in, and whether it holds one; the file
  // bytes [InChunkFrom_, InChunkTo_) read into it, at InChunk_.
  uint64_t Current_ = 0;
  bool HaveCurrent_ = false;
  uint64_t InChunkFrom_ = 0, InChunkTo_ = 0;
  const uint8_t* InChunk_ = nullptr;

  mutable std::mutex Lock_;
  std::condition_variable Advanced_;  // the reader may go on: slots were given back, or stop
  std::condition_variable Read_;      // a chunk was read, or the reading ended
  uint64_t Released_ = 0;             // chunks below this one may be overwritten
  uint64_t ReadTo_ = 0;               // chunks below this one are read
  bool Ended_ = false;                // the reader stopped: end of file, cut short or failed
  int Errno_ = 0;
  uint64_t CutAt_ = UINT64_MAX;       // where the file turned out to end, when shorter
  bool Stop_ = false;
  std::thread Reader_;
};
