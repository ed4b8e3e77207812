#include "pipeline/CapturePipeline.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "capture/Quarn.h"
#include "pipeline/RowWork.h"
#include "platform/Files.h"

namespace {
// How often reading a file reports progress, in frames: rare enough to cost nothing, often
// enough for a bar that moves several times a second.
constexpr int64_t ProgressEvery = 1 << 15;

// Copies the first `size` bytes of the file open as `from` to `target`, through a temporary
// file beside the target, which then replaces it in one step.
bool CopyPrefix(int from, uint64_t size, const std::string& target) {
  platform::TFileBeside to;
  if (!to.Create(target)) return false;
  loff_t in = 0;
  while (uint64_t(in) < size) {
    const ssize_t n =
        ::copy_file_range(from, &in, to.Descriptor(), nullptr, size_t(size - uint64_t(in)), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
  }
  return to.Commit();
}
}  // namespace

TCapturePipeline::TCapturePipeline(size_t room) : Room_(room) {}

TCapturePipeline::~TCapturePipeline() {
  Stop();
  const std::string path = File_.Path();
  File_.Close();
  LiveFile_.Close();
  if (Temporary_ && !path.empty()) ::unlink(path.c_str());
}

// ---- Files ----------------------------------------------------------------------------------

// Says which file could not be mapped: the system's reason alone ("Cannot allocate memory")
// names neither the file nor what was being done.
std::string TCapturePipeline::MapFailure(const std::string& otherwise) const {
  const std::string reason = File_.MapError();
  return reason.empty() ? otherwise : "cannot map " + File_.Path() + " into memory: " + reason;
}

bool TCapturePipeline::OpenForReading(const std::string& path, std::string& error) {
  if (!File_.Open(path, error)) return false;
  if (!Records_.Open(File_, error)) {
    error = MapFailure(error);
    File_.Close();
    return false;
  }
  File_.SetMaxRecord(Records_.MaxRecord());
  Store_.Attach(&Records_);
  return true;
}

bool TCapturePipeline::OpenFile(TCustomQuarn& opener, const std::string& path,
                                std::string& error) {
  // The file is mapped before the opener's OnOpened runs, which gives up the previous capture:
  // a file that cannot be read in place (one libpcap could still read, such as a pipe) is
  // refused through OnOpened, and the previous capture stays.
  std::string unreadable;
  const bool readable = OpenForReading(path, unreadable);
  const TOnOpenedEvent onOpened = opener.OnOpened;
  if (!readable) opener.OnOpened = [&](TCustomQuarn&) { return unreadable; };
  const bool opened = opener.OpenFile(path);
  opener.OnOpened = onOpened;
  if (!opened) {
    File_.Close();
    // libpcap's words alone ("unknown file format", "error reading dump file: Is a
    // directory") do not say which file they are about; ours name it already.
    const std::string reason = opener.LastError();
    error = reason.find(path) != std::string::npos ? reason : path + ": " + reason;
    return false;
  }
  return true;
}

TCapturePipeline::TReadResult TCapturePipeline::ReadOpenedFile(TCustomQuarn& opener,
                                                               std::string& error,
                                                               const TProgress& progress) {
  FillInHugePages(true);
  const TReadResult result = ReadFrames(&opener, progress);
  FillInHugePages(false);
  if (result == TReadResult::Incomplete) error = Error();
  return result;
}

TCapturePipeline::TReadResult TCapturePipeline::ReadFile(TCustomQuarn& opener,
                                                         const std::string& path,
                                                         std::string& error,
                                                         const TProgress& progress) {
  if (!OpenFile(opener, path, error)) return TReadResult::Failed;
  const TReadResult result = ReadOpenedFile(opener, error, progress);
  opener.Close();
  return result;
}

TCapturePipeline::TReadResult TCapturePipeline::ReadFile(const std::string& path,
                                                         const std::string& filter,
                                                         std::string& error,
                                                         const TProgress& progress) {
  TQuarn opener;
  opener.SetFilter(filter);
  return ReadFile(opener, path, error, progress);
}

TCapturePipeline::TReadResult TCapturePipeline::ReadFrames(TCustomQuarn* opener,
                                                           const TProgress& progress) {
  const uint64_t size = File_.Size();
  int64_t frames = 0;
  TFileRecord record;
  std::string error;
  // Read with pread() ahead on a thread of its own rather than through the mapping: see
  // TFileStream for why. The store keeps only each record's offset, which the rows shown later
  // read through the mapping.
  TFileStream stream;
  stream.Start(File_.Descriptor(), size);
  for (;;) {
    const int next = Records_.Next(stream, record, error);
    if (next == 0) break;
    if (next < 0) {
      Fail(MapFailure(error));
      return TReadResult::Incomplete;
    }
    ++frames;
    if (opener && !opener->Matches(record.Header, record.Data, record.LinkType)) continue;
    bool depends = false;
    const TListSet lists =
        ListsOf(record.LinkType, record.Data, record.Data + record.Header.caplen, depends);
    if (!File(record.Offset, lists, depends)) return TReadResult::Incomplete;
    if (progress && frames % ProgressEvery == 0 && !progress(frames, Records_.Position(), size))
      return TReadResult::Cancelled;
  }
  if (progress) progress(frames, size, size);
  return TReadResult::Complete;
}

void TCapturePipeline::FillInHugePages(bool start) {
  // Store and lists fill huge pages while a file is read in, whatever its size, and give back
  // what the last of each holds past its end when the read is over: small pages would cost a
  // first touch each (see TReservedArray).
  const auto each = [&](auto& array) {
    if (start) array.FillInHugePages();
    else array.Trim();
  };
  each(Store_);
  for (int32_t view = 0; view < ViewCount; ++view) each((*Lists_)[view]);
}

// ---- Live capture ---------------------------------------------------------------------------

bool TCapturePipeline::StartLive(const std::string& path, int32_t linkType, int32_t snapLen,
                                 std::string& error) {
  if (!LiveFile_.Create(path, linkType, snapLen, error)) return false;
  if (!File_.Adopt(LiveFile_.Descriptor(), LiveFile_.WrittenSize(), error) ||
      !Records_.Open(File_, error)) {
    const std::string made = LiveFile_.Path();
    LiveFile_.Close();
    ::unlink(made.c_str());
    File_.Close();
    if (error.find(made) == std::string::npos) error = made + ": " + error;
    return false;
  }
  File_.Renamed(LiveFile_.Path());
  File_.SetMaxRecord(Records_.MaxRecord());
  Store_.Attach(&Records_);
  LiveLinkType_ = linkType;
  Live_ = Running_ = Temporary_ = true;
  Flusher_ = std::thread([this] { FlushEverySoOften(); });
  return true;
}

bool TCapturePipeline::Add(const PCAP_PKTHDR* header, const uint8_t* data) {
  // Classified before the lock: it reads only the frame the source handed over.
  const bool deep = Store_.DecodeIPv6AndVLAN();
  bool depends = false;
  const TListSet lists = ListsOf(LiveLinkType_, data, data + header->caplen, depends);
  std::lock_guard lock(Lock_);
  if (!Running_ || Failed()) return false;
  // Refused before it reaches the file, which holds exactly the frames the capture holds.
  if (size_t(Store_.Count()) + Pending_.size() >= Room()) {
    Full();
    return false;
  }
  for (int32_t view = 0; view < ViewCount; ++view)
    if (lists & ListBit(view)) Seen_[size_t(view)].fetch_add(1, std::memory_order_relaxed);
  SeenBytes_.fetch_add(header->len, std::memory_order_relaxed);
  Pending_.push_back({LiveFile_.Append(*header, data), lists, deep, depends});
  if (LiveFile_.PendingBytes() >= FlushBytes) return FlushLocked();
  return true;
}

bool TCapturePipeline::Flush() {
  std::lock_guard lock(Lock_);
  return FlushLocked();
}

bool TCapturePipeline::FlushLocked() {
  if (!Live_ || Pending_.empty()) return !Failed();
  std::string error;
  const bool written = LiveFile_.Flush(error);
  File_.Grow(LiveFile_.WrittenSize());
  // Only frames that reached the file are filed: the store and the file agree, so a save
  // holds every frame the views show.
  for (const TPendingFrame& frame : Pending_) {
    if (frame.Offset >= LiveFile_.WrittenSize()) break;
    // A frame classified before the decoding changed is classified again from the file.
    if (frame.Deep != Store_.DecodeIPv6AndVLAN()) {
      TFileRecord record;
      if (!Records_.FrameAt(frame.Offset, record)) break;
      bool depends = false;
      const TListSet lists =
          ListsOf(LiveLinkType_, record.Data, record.Data + record.Header.caplen, depends);
      if (!File(frame.Offset, lists, depends)) break;
    } else if (!File(frame.Offset, frame.Lists, frame.Depends)) {
      break;
    }
  }
  Pending_.clear();
  if (!written) Fail(error);
  return written && !Failed();
}

bool TCapturePipeline::File(uint64_t offset, TListSet lists, bool depends) {
  if (size_t(Store_.Count()) >= Room()) {
    Full();
    return false;
  }
  Store_.Add(offset);
  Lists_->File(Store_.Count(), lists);
  if (depends) {
    const size_t bit = size_t(Store_.Count() - 1);
    std::atomic_ref<uint64_t>(Depends_[bit / 64]).fetch_or(uint64_t(1) << (bit % 64),
                                                           std::memory_order_relaxed);
    DeeperFrames_.fetch_add(1, std::memory_order_relaxed);
  }
  // Only the thread reading the file files frames: a plain increment, published for the
  // window, costs a tenth of a locked one, and this runs for every frame of the file.
  if (!Live_)
    for (int32_t view = 0; view < ViewCount; ++view)
      if (lists & ListBit(view)) {
        std::atomic<int32_t>& seen = Seen_[size_t(view)];
        seen.store(seen.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
      }
  return true;
}

namespace {
// Whether decoding with IPv6 and VLAN and decoding by type codes may file a frame so decoded
// differently: only IPv6 and VLAN frames, and IPv4 headers other than a plain first fragment
// (options, a later fragment, a version other than 4), can be filed differently.
bool DecodingMayMatter(const TPacketLayers& layers) {
  const int32_t type = layers.LinkProtocol;
  if (type == 0x86DD || type == 0x8100 || type == 0x88A8 || type == 0x9100) return true;
  if (type != 0x0800) return false;
  if (layers.Network != TNetworkKind::IPv4) return true;
  const IP_HDR* ip = layers.IP();
  return !Captured(ip->FlagOff, layers.End) || ip->VerLen != 0x45 || (be16(ip->FlagOff) & 0x1FFF);
}
}  // namespace

TListSet TCapturePipeline::ListsOf(int32_t linkType, const uint8_t* data, const uint8_t* end,
                                   bool& depends) {
  const bool deep = Store_.DecodeIPv6AndVLAN();
  TPacketLayers layers;
  DecodeLayers(linkType, deep, data, end, layers);
  const TListSet lists = FrameLists(layers);
  // The few frames that the other decoding would file otherwise are marked, so that turning
  // the decoding over reads only them, and counted, so that the window can point the user at
  // the choice; the rest is not decoded twice.
  depends = DecodingMayMatter(layers) && FrameLists(linkType, !deep, data, end) != lists;
  return lists;
}

bool TCapturePipeline::Refile(bool deep, const TRefileProgress& progress) {
  // The frames the decoding does not matter for keep the lists they are in: they are read back
  // from the old lists, views split between two threads, one byte a frame.
  const int32_t first = Store_.Count();
  std::vector<TListSet> sets(static_cast<size_t>(first)), second(static_cast<size_t>(first));
  auto gather = [&](std::vector<TListSet>& into, int32_t fromView, int32_t toView) {
    for (int32_t view = fromView; view < toView; ++view) {
      const TNodeList& list = (*Lists_)[view];
      const uint32_t* numbers = list.Numbers();
      for (int32_t i = 0, n = list.Count(); i < n && numbers[i] <= uint32_t(first); ++i)
        into[numbers[i] - 1] |= ListBit(view);
    }
  };
  {
    std::thread other(gather, std::ref(second), ViewCount / 2, ViewCount);
    gather(sets, 0, ViewCount / 2);
    other.join();
  }
  for (size_t i = 0; i < sets.size(); ++i) sets[i] |= second[i];
  second = {};
  auto listsOf = [&](int32_t number) {
    const TFrame frame = Store_.Frame(number);
    return frame.Readable ? FrameLists(frame.LinkType, deep, frame.Data(), frame.DataEnd())
                          : ListBit(viETH);
  };
  // The frames it matters for are decoded again, on two threads.
  const bool decoded = ForBlocks(BlocksOf(first), progress, first, [&](int32_t, int64_t block) {
    const int64_t from = block * RowsPerBlock, to = std::min<int64_t>(first, from + RowsPerBlock);
    for (int64_t i = from; i < to; ++i)
      if (Depends(int32_t(i + 1))) sets[size_t(i)] = listsOf(int32_t(i + 1));
    return to - from;
  });
  if (!decoded) return false;
  // Each list takes its numbers in rising order: the views are filed on two threads.
  auto lists = std::make_unique<TPacketLists>();
  auto fileViews = [&](int32_t fromView, int32_t toView) {
    for (int32_t view = fromView; view < toView; ++view) {
      TNodeList& list = (*lists)[view];
      for (int32_t number = 1; number <= first; ++number)
        if (sets[size_t(number - 1)] & ListBit(view)) list.Add(number);
    }
  };
  {
    std::thread other(fileViews, ViewCount / 2, ViewCount);
    fileViews(0, ViewCount / 2);
    other.join();
  }
  // A live capture went on meanwhile: the frames it added are filed under its lock, where the
  // new lists then take the old ones' place.
  std::lock_guard lock(Lock_);
  for (int32_t number = first + 1; number <= Store_.Count(); ++number)
    lists->File(number, Depends(number) ? listsOf(number) : ListSetOf(number));
  Store_.SetDecodeIPv6AndVLAN(deep);
  Lists_ = std::move(lists);
  RoomOfLists_ = nullptr;
  if (!Live_)
    for (int32_t view = 0; view < ViewCount; ++view)
      Seen_[size_t(view)].store((*Lists_)[view].Count(), std::memory_order_relaxed);
  if (progress) progress(Store_.Count(), Store_.Count());
  return true;
}

TListSet TCapturePipeline::ListSetOf(int32_t number) const {
  // The lists of the frames after `number` - 1 are at their ends.
  TListSet lists = 0;
  for (int32_t view = 0; view < ViewCount; ++view) {
    const TNodeList& list = (*Lists_)[view];
    const uint32_t* numbers = list.Numbers();
    const int32_t n = list.Count();
    const uint32_t* at = std::lower_bound(numbers, numbers + n, uint32_t(number));
    if (at != numbers + n && *at == uint32_t(number)) lists |= ListBit(view);
  }
  return lists;
}

size_t TCapturePipeline::Room() {
  // A frame is kept only where every view can show it: the store and each list have room
  // for as many frames as the address space allowed when they were made.
  // Asked for every frame filed: looked up again only when the lists are new.
  if (RoomOfLists_ != Lists_.get()) {
    const size_t most = std::min(Store_.Room(), Lists_->Room());
    if (!Room_ || Room_ > most) Room_ = most;
    RoomOfLists_ = Lists_.get();
  }
  return Room_;
}

void TCapturePipeline::Full() {
  Fail("the capture cannot hold more than " + std::to_string(Room()) +
       " frames; the frames after them were not kept");
}

void TCapturePipeline::FlushEverySoOften() {
  std::unique_lock lock(Lock_);
  while (!StopFlusher_) {
    FlusherWake_.wait_for(lock, std::chrono::milliseconds(FlushInterval));
    if (!StopFlusher_) FlushLocked();
  }
}

void TCapturePipeline::Stop() {
  {
    std::lock_guard lock(Lock_);
    if (!Running_) return;
    FlushLocked();
    Running_ = false;
    StopFlusher_ = true;
  }
  FlusherWake_.notify_all();
  if (Flusher_.joinable()) Flusher_.join();
}

uint64_t TCapturePipeline::NewIdentity() {
  static std::atomic<uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

void TCapturePipeline::Clear() {
  std::lock_guard lock(Lock_);
  Identity_.store(NewIdentity(), std::memory_order_relaxed);
  Pending_.clear();
  Store_.Clear();
  Depends_.Release(Depends_.Capacity());
  Lists_->Clear();
  DeeperFrames_.store(0, std::memory_order_relaxed);
  ResetSeen();
  // A file already saved keeps every frame it was saved with.
  if (Live_ && Temporary_) {
    std::string error;
    if (!LiveFile_.Restart(error)) Fail(error);
    File_.Shrink(LiveFile_.WrittenSize());
  }
}

void TCapturePipeline::ResetSeen() {
  for (auto& seen : Seen_) seen.store(0, std::memory_order_relaxed);
  SeenBytes_.store(0, std::memory_order_relaxed);
}

// ---- Saving ---------------------------------------------------------------------------------

bool TCapturePipeline::SaveTo(const std::string& target, std::string& error) {
  return SaveTo(target, FormatOfName(target), error);
}

bool TCapturePipeline::SaveTo(const std::string& target, TCaptureFormat format,
                              std::string& error) {
  if (Save(target, format)) return true;
  const int code = errno;
  error = "cannot save to " + target + ": " + std::strerror(code);
  errno = code;
  return false;
}

bool TCapturePipeline::Save(const std::string& target, TCaptureFormat format) {
  std::lock_guard lock(Lock_);
  if (Live_ && Temporary_) {
    FlushLocked();
    // The capture goes on reading its temporary file, whose records the store points at; the
    // file goes when the capture does, as it would without a save.
    if (format == TCaptureFormat::Pcapng) return WriteAs(target, format);
    if (Running_) return CopyPrefix(LiveFile_.Descriptor(), LiveFile_.WrittenSize(), target);
    // Its capture is over: the file already holds exactly the frames of the store. It was its
    // owner's alone while temporary; saved, it is a file of the user's like any other.
    if (::fsync(LiveFile_.Descriptor()) != 0) return false;
    if (!platform::MoveFile(File_.Path(), target, platform::NewFileMode())) return false;
    LiveFile_.Renamed(target);
    File_.Renamed(target);
    Temporary_ = false;
    return true;
  }
  // Saved onto itself, a file is left as it is, whatever its name asks for.
  if (!File_.IsOpen() || FormatOf(File_) == format || platform::SameFile(File_.Path(), target))
    return platform::CopyFile(File_.Path(), target);
  return WriteAs(target, format);
}

bool TCapturePipeline::CanSaveAs(TCaptureFormat format) const {
  return format == TCaptureFormat::Pcapng || !File_.IsOpen() || Records_.LinkTypes().size() <= 1;
}

bool TCapturePipeline::WriteAs(const std::string& target, TCaptureFormat format) {
  platform::TFileBeside out;
  return out.Create(target) && WriteCaptureAs(File_, format, out) && out.Commit();
}

// ---- Observing ------------------------------------------------------------------------------

void TCapturePipeline::Fail(const std::string& text) {
  std::lock_guard errorLock(ErrorLock_);
  if (Failed()) return;
  Error_ = text;
  Failed_.store(true, std::memory_order_release);
}

std::string TCapturePipeline::Error() const {
  std::lock_guard errorLock(ErrorLock_);
  return Error_;
}

bool TCapturePipeline::CheckFileChanged() {
  if (!File_.IsOpen()) return false;
  return Live_ ? File_.Changed() : File_.Recheck();
}

size_t TCapturePipeline::CommittedBytes() const {
  size_t bytes = Store_.CommittedBytes();
  for (int32_t view = 0; view < ViewCount; ++view) bytes += (*Lists_)[view].CommittedBytes();
  bytes += Depends_.CommittedBytes(size_t(Store_.Count()) / 64 + 1);
  return bytes;
}
