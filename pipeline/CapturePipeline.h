#pragma once
// One capture's frames from their arrival to the rows of the eight views: the capture file
// that holds them, the store that refers to them there, the per-view lists and the counters.
// The window, trellan-rows, the benchmarks and the fuzz targets all go through it; the window
// only observes it (counts, rows) and draws. A frame is classified once, here.
//
// A capture file is read in place (TFileRecords over a TMappedFile). A live or remote
// capture is written to its temporary file as frames arrive (TLiveCaptureFile) and read back
// from that file the same way, so that both kinds cost this program a few bytes a frame and a
// crash loses at most the last moments of a capture.
//
// Threads: Add may run on the capture thread while the main thread reads rows; the lock below
// orders Add, Flush, Clear and Stop, and the readers need none (the store and the lists publish
// their counts). A flusher thread writes pending frames at least every FlushInterval, so that
// they reach the file and the views without waiting for more traffic.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/FileRecords.h"
#include "capture/FrameStore.h"
#include "capture/MappedFile.h"
#include "pipeline/CaptureFormat.h"
#include "pipeline/LiveCaptureFile.h"
#include "presentation/PacketLists.h"

class TCustomQuarn;

class TCapturePipeline {
 public:
  // Pending live frames are written at the latest after this long (milliseconds).
  static constexpr int FlushInterval = 200;
  // ... or as soon as this many bytes are pending.
  static constexpr size_t FlushBytes = size_t(256) << 10;

  // Reading a file: frames read, file bytes read, file size. Returns false to stop reading
  // (Cancel); what was read so far stays.
  using TProgress = std::function<bool(int64_t frames, uint64_t read, uint64_t size)>;
  enum class TReadResult { Failed, Complete, Incomplete, Cancelled };

  // A capture of at most `room` frames; 0 for as many as the store and the lists can hold
  // (2^30 where the address space allows).
  explicit TCapturePipeline(size_t room = 0);
  ~TCapturePipeline();
  TCapturePipeline(const TCapturePipeline&) = delete;
  TCapturePipeline& operator=(const TCapturePipeline&) = delete;

  // ---- Sources ----

  // Opens `path` through `opener` (its capture filter, its trace lines, its OnOpened) and
  // reads every frame the filter passes. Failed: nothing was opened, and `error` says why as
  // "PATH: reason" (opener.LastError() in the library's words alone). Incomplete: a record
  // libpcap would refuse, or a store that is full, ended the reading; the frames before it
  // are kept and `error` says why. Cancelled: the progress handler stopped it.
  TReadResult ReadFile(TCustomQuarn& opener, const std::string& path, std::string& error,
                       const TProgress& progress = {});
  // ReadFile in two steps, for a reading that goes on while the frames read are shown:
  // OpenFile opens `path` through `opener` (false with `error` as ReadFile's Failed), and
  // ReadOpenedFile then reads its frames, on any one thread, while others read the rows read
  // so far as they read a live capture's; the caller closes the opener after it. Nothing else
  // may change the capture meanwhile (Clear, Refile, SaveTo).
  bool OpenFile(TCustomQuarn& opener, const std::string& path, std::string& error);
  TReadResult ReadOpenedFile(TCustomQuarn& opener, std::string& error,
                             const TProgress& progress = {});
  // The same, with a capture filter of its own (empty for none), for the tools.
  TReadResult ReadFile(const std::string& path, const std::string& filter, std::string& error,
                       const TProgress& progress = {});

  // Starts a live capture written to the new temporary file `path`, its owner's alone; six
  // X's in its name become random characters (platform::CreateNewFile), and FileName() tells
  // the name made.
  // False, with `error` naming the file, when it cannot be made.
  bool StartLive(const std::string& path, int32_t linkType, int32_t snapLen, std::string& error);
  // A frame of the live source. False when it could not be kept: the file cannot be written
  // (the disk is full) or the store is full. Failed() and Error() then say why and every
  // later frame is refused too, so that the capture can be stopped; the frames before stay.
  bool Add(const PCAP_PKTHDR* header, const uint8_t* data);
  // Writes the pending frames to the file and files them into the store and the lists.
  bool Flush();
  // The live source has stopped: flushes and ends the flusher.
  void Stop();
  bool Live() const { return Live_; }
  bool Running() const { return Running_; }

  // Empties the store and the lists. A live capture's file starts again too, so that it
  // holds exactly the frames the store holds.
  void Clear();

  // Saves the frames of the store to `target` in `format` (by default the one its name asks
  // for: FormatOfName). As pcap, a temporary file whose capture has stopped is moved there
  // (and is the capture's file from then on), and one still being written is copied as far
  // as it has been filed. Any other file is copied whole when it is in that format already,
  // or when `target` is the file itself; otherwise its frames are written in `format`, as
  // they are from a temporary file to pcapng (which then stays the capture's file). False
  // when that fails, with `error` as "cannot save to TARGET: reason" and errno the system's
  // code; the capture is then as it was.
  bool SaveTo(const std::string& target, std::string& error);
  bool SaveTo(const std::string& target, TCaptureFormat format, std::string& error);
  // False when the capture cannot be saved in `format`: a pcap file holds one link type, and
  // a pcapng file read may have interfaces of several.
  bool CanSaveAs(TCaptureFormat format) const;
  // The temporary file is removed when the pipeline goes; after a save it is not temporary.
  bool Temporary() const { return Temporary_; }
  const std::string& FileName() const { return File_.Path(); }
  // The size of the capture's file as far as it may be read.
  uint64_t FileSize() const { return File_.Size(); }
  // The link type and snapshot length of the capture's file, which a display filter is
  // compiled for; Ethernet and 262144 (libpcap's default) while no file is open.
  int32_t LinkType() const { return File_.IsOpen() ? Records_.LinkType() : 1; }
  int32_t SnapLength() const { return File_.IsOpen() ? Records_.SnapLen() : 262144; }
  // The format of the capture's file as its first bytes tell it.
  TCaptureFormat Format() const { return File_.IsOpen() ? FormatOf(File_) : TCaptureFormat::Pcap; }

  // ---- What the window observes ----

  const TFrameStore& Store() const { return Store_; }
  int32_t Count() const { return Store_.Count(); }
  const TNodeList& List(int32_t view) const { return (*Lists_)[view]; }
  TPacketList Items(int32_t view) const { return (*Lists_)[view].Items(Store_); }

  // ---- How frames are decoded ----
  // Whether frames are decoded with IPv6 and VLAN (View > Decode IPv6 and VLAN) or by their
  // type codes alone; set before a source opens, or changed for the frames held by Refile.
  void SetDecodeIPv6AndVLAN(bool deep) { Store_.SetDecodeIPv6AndVLAN(deep); }
  bool DecodeIPv6AndVLAN() const { return Store_.DecodeIPv6AndVLAN(); }
  // Files every frame of the store again, decoded as `deep` says, into new lists, which take
  // the old ones' place only when all frames are filed: false when the progress handler
  // stopped it (the lists and the decoding then stay as they were). Runs on the thread that
  // reads the rows; a live capture goes on adding frames meanwhile. Any list references taken
  // before (List, Items) are stale after a true result.
  using TRefileProgress = std::function<bool(int64_t frames, int64_t count)>;
  bool Refile(bool deep, const TRefileProgress& progress = {});
  // The frames of the store that decoding with IPv6 and VLAN files otherwise than decoding by
  // type codes does, whichever of the two the store decodes by.
  int64_t DeeperFrames() const { return DeeperFrames_.load(std::memory_order_relaxed); }
  // The link type of the live capture, or of the file's first interface.
  int32_t FrameLinkType() const { return Live_ ? LiveLinkType_ : LinkType(); }
  // Frames of each category since the source opened (the capture window's counters).
  int32_t Seen(int32_t view) const { return Seen_[size_t(view)].load(std::memory_order_relaxed); }
  // Bytes of the live frames counted in Seen, as long as they were on the wire (not cut to the
  // snapshot length): the traffic the capture window's rate reports.
  uint64_t SeenBytes() const { return SeenBytes_.load(std::memory_order_relaxed); }
  void ResetSeen();
  // A live capture fails on whichever thread writes its file, the flusher's too, where no
  // caller waits for an answer: the failure stays, for the window's watch to find.
  bool Failed() const { return Failed_.load(std::memory_order_acquire); }
  std::string Error() const;
  // True once the file was found changed by another program (truncated, overwritten):
  // frames past its new end then read as unreadable.
  bool CheckFileChanged();
  // This program's memory for the capture: the store and the lists.
  size_t CommittedBytes() const;
  // Unique to this pipeline and its frames since the last Clear: no other pipeline of the
  // process, even one at the same address later, and no later Clear gives the same number, so
  // whoever keeps frame numbers can tell that they still mean the same frames.
  uint64_t Identity() const { return Identity_.load(std::memory_order_relaxed); }

 private:
  bool OpenForReading(const std::string& path, std::string& error);
  // SaveTo's work: false with errno set.
  bool Save(const std::string& target, TCaptureFormat format);
  // Writes the capture's file to `target` in the other format (lock held).
  bool WriteAs(const std::string& target, TCaptureFormat format);
  std::string MapFailure(const std::string& otherwise) const;
  TReadResult ReadFrames(TCustomQuarn* opener, const TProgress& progress);
  // Before a file is read in (true) and after (false), whatever the read's end.
  void FillInHugePages(bool start);
  // Publishes the frames written so far (lock held).
  bool FlushLocked();
  bool File(uint64_t offset, TListSet lists, bool depends);
  size_t Room();
  void Full();
  void Fail(const std::string& text);
  void FlushEverySoOften();

  TMappedFile File_;
  TFileRecords Records_;
  TFrameStore Store_;
  std::unique_ptr<TPacketLists> Lists_ = std::make_unique<TPacketLists>();
  // The lists of a frame decoded as the store decodes now; counts DeeperFrames.
  // `depends`: the other decoding would file the frame otherwise.
  TListSet ListsOf(int32_t linkType, const uint8_t* data, const uint8_t* end, bool& depends);
  // The frames whose filing depends on the decoding, one bit a frame (bit n - 1 for frame n).
  platform::TReservedArray<uint64_t> Depends_{TFrameStore::Capacity / 64 + 1};
  // The words are read by Refile's threads while the capture thread sets bits of later frames.
  bool Depends(int32_t number) const {
    const size_t bit = size_t(number - 1);
    return std::atomic_ref<uint64_t>(Depends_[bit / 64]).load(std::memory_order_relaxed) >> (bit % 64) & 1;
  }
  // The lists frame `number` is in, found in the lists themselves.
  TListSet ListSetOf(int32_t number) const;
  std::atomic<int64_t> DeeperFrames_{0};
  int32_t LiveLinkType_ = 1;
  // Frames the store and every list have room for; found at the first frame unless given.
  size_t Room_ = 0;
  const TPacketLists* RoomOfLists_ = nullptr;  // the lists Room_ was taken for
  std::array<std::atomic<int32_t>, ViewCount> Seen_{};
  static uint64_t NewIdentity();
  std::atomic<uint64_t> Identity_{NewIdentity()};
  std::atomic<uint64_t> SeenBytes_{0};

  bool Live_ = false;
  bool Running_ = false;
  bool Temporary_ = false;
  TLiveCaptureFile LiveFile_;
  // Frames appended to LiveFile_ but not yet written: their offsets and their lists, and
  // whether those were found decoding with IPv6 and VLAN.
  struct TPendingFrame {
    uint64_t Offset;
    TListSet Lists;
    bool Deep;
    bool Depends;
  };
  std::vector<TPendingFrame> Pending_;

  mutable std::mutex Lock_;
  std::atomic<bool> Failed_{false};
  mutable std::mutex ErrorLock_;
  std::string Error_;
  std::condition_variable FlusherWake_;
  bool StopFlusher_ = false;
  std::thread Flusher_;
};
