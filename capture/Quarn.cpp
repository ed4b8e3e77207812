#include "capture/Quarn.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <climits>
#include <csignal>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "capture/LocalAdapter.h"
#include "capture/QuarnThread.h"
#include "support/ZebTrace.h"

namespace {
// Texts from the library live in buffers of PCAP_ERRBUF_SIZE bytes; copy at most that much
// even when a buffer lacks its terminating zero.
std::string LibraryText(const char* text) {
  return text ? std::string(text, strnlen(text, PCAP_ERRBUF_SIZE)) : std::string();
}

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

// An enumeration that is released on every path.
struct AdapterList {
  pcap_if_t* first = nullptr;
  ~AdapterList() {
    if (first) pcap_freealldevs(first);
  }
};

// The library reads a capture file record by record through a stdio stream. With the
// stream's default buffer (one 4 KiB page) that is a read system call for every few frames,
// and those calls cost about as much as the rest of loading; a 64 KiB buffer, which stays in
// the core's cache, halves the time to read a file.
constexpr size_t FileBufferSize = size_t(64) << 10;

pcap_t* OpenCaptureFile(const std::string& name, std::unique_ptr<char[]>& buffer, char* errbuf) {
  // Nothing here waits for data: opening a pipe would wait for a writer, and reading a device,
  // or a file of /proc such as kmsg, for data that may never come. A folder is left to the
  // library, whose read says what it is.
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  const bool special = fd >= 0 && ::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode) &&
                       !S_ISDIR(st.st_mode);
  FILE* file = fd >= 0 && !special ? ::fdopen(fd, "rb") : nullptr;
  if (!file) {
    // The library's own wording for a file it cannot open.
    std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s", name.c_str(),
                  special ? "not a regular file" : std::strerror(errno));
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  if (!buffer) buffer = std::make_unique<char[]>(FileBufferSize);
  std::setvbuf(file, buffer.get(), _IOFBF, FileBufferSize);
  posix_fadvise(fileno(file), 0, 0, POSIX_FADV_SEQUENTIAL);  // a hint: read ahead further
  pcap_t* handle = pcap_fopen_offline(file, errbuf);
  if (!handle) std::fclose(file);  // on failure the library leaves the stream to its opener
  return handle;
}

// The library's remote client splits the read time-out between itself and the daemon, each
// taking half of it, rounded down. A half of 0 makes the daemon wait for a full ring block
// before it sends anything, so light traffic never arrives, and makes every read of the client
// return at once, so that the capture thread spins; a negative one is worse on both sides.
// From 2 ms on, both halves are at least 1 ms.
constexpr int MinRemoteReadTimeout = 2;

// Every other source (a remote adapter, or a source string the library must judge) goes
// through pcap_open.
pcap_t* OpenSource(const std::string& source, int snaplen, int flags, int readTimeout,
                   int ringBytes, pcap_rmtauth* auth, char* errbuf, int& localStatus) {
  char name[PCAP_BUF_SIZE + 1] = "";
  int type = 0;
  if (source.size() <= PCAP_BUF_SIZE &&
      pcap_parsesrcstr(source.c_str(), &type, nullptr, nullptr, name, errbuf) == 0 &&
      type == PCAP_SRC_IFLOCAL)
    return OpenLocalAdapter(name, snaplen, flags, readTimeout, errbuf, &localStatus, ringBytes);
  errbuf[0] = 0;
  // The daemon's own connections to this program run over the adapters it captures on; if it
  // captured them, each frame it sent would come back larger inside the next, until a message
  // outgrew what the client takes and the capture failed. It is always told to leave them out,
  // whatever the user's flags say.
  return pcap_open(source.c_str(), snaplen, flags | PCAP_OPENFLAG_NOCAPTURE_RPCAP,
                   std::max(readTimeout, MinRemoteReadTimeout), auth, errbuf);
}

// The capture helper: the one the environment names (for tests and unusual installs), else the
// one beside the executable (a build tree), else the installed one in libexec.
std::string HelperPath() {
  if (const char* named = std::getenv("TRELLAN_CAPTURE_HELPER")) return named;
  char exe[PATH_MAX + 1];
  const ssize_t n = readlink("/proc/self/exe", exe, PATH_MAX);
  if (n <= 0) return {};
  std::string folder(exe, size_t(n));
  folder.erase(folder.rfind('/') + 1);
  for (const std::string& path :
       {folder + "trellan-capture", folder + "../libexec/trellan/trellan-capture"})
    if (access(path.c_str(), X_OK) == 0) return path;
  return {};
}

// Reads the helper's standard error up to its end: the helper closes it on success.
std::string ReadToEnd(int fd) {
  std::string text;
  char buffer[512];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      if (text.size() < PCAP_ERRBUF_SIZE) text.append(buffer, size_t(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

void CloseBoth(int (&fds)[2]) {
  if (fds[0] >= 0) close(fds[0]);
  if (fds[1] >= 0) close(fds[1]);
  fds[0] = fds[1] = -1;
}

// Waits for the child to end; its wait status, or -1 when it cannot be had.
int Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return status;
}

// How a capture helper ended, as a user reads it.
std::string HowItEnded(int status) {
  if (status < 0) return {};
  if (WIFSIGNALED(status))
    return "killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
           Text(strsignal(WTERMSIG(status))) + ")";
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
    return "exit status " + std::to_string(WEXITSTATUS(status));
  return {};
}
}  // namespace

TCustomQuarn::TCustomQuarn() {
  AdapterList list;
  char errbuf[PCAP_ERRBUF_SIZE] = "";
  if (pcap_findalldevs(&list.first, errbuf) == 0) {
    for (const pcap_if_t* d = list.first; d; d = d->next) {
      AdapterNames_.push_back(Text(d->name));
      AdapterDescriptions_.push_back(Text(d->description));
    }
  }
}

TCustomQuarn::~TCustomQuarn() { Close(); }

void TCustomQuarn::SetAdapterIndex(int32_t value) {
  if (value == AdapterIndex_) return;
  if (value < 0 || size_t(value) >= AdapterNames_.size()) {
    AdapterIndex_ = -1;
    AdapterName_.clear();
    return;
  }
  AdapterIndex_ = value;
  AdapterName_ = AdapterNames_[size_t(value)];
  AdapterDescription_ = AdapterDescriptions_[size_t(value)];
}

void TCustomQuarn::SetAdapterName(const std::string& value) {
  if (value != AdapterName_) SelectAdapter(AdapterNames_, value);
}

void TCustomQuarn::SetAdapterDescription(const std::string& value) {
  if (value != AdapterDescription_) SelectAdapter(AdapterDescriptions_, value);
}

void TCustomQuarn::SelectAdapter(const TStringList& list, const std::string& value) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] == value) {
      AdapterIndex_ = int32_t(i);
      AdapterName_ = AdapterNames_[i];
      AdapterDescription_ = AdapterDescriptions_[i];
      return;
    }
  }
  AdapterIndex_ = -1;
  AdapterName_.clear();
  AdapterDescription_.clear();
}

std::string TCustomQuarn::LastError() const {
  std::lock_guard lock(ErrorLock_);
  return LastError_;
}

void TCustomQuarn::SetLastError(std::string text) {
  std::lock_guard lock(ErrorLock_);
  LastError_ = std::move(text);
}

std::string TCustomQuarn::StopReason() const {
  std::lock_guard lock(ErrorLock_);
  return StopReason_;
}

void TCustomQuarn::SetStopReason(std::string text) {
  std::lock_guard lock(ErrorLock_);
  StopReason_ = std::move(text);
}

bool TCustomQuarn::CaptureEnded() const {
  // Close resets the thread before anyone could look again, so a thread that has reached its
  // end while still held here ended by itself.
  return Thread_ && Thread_->State == TZebThread::Ended;
}

bool TCustomQuarn::Open(bool ResumeThread) {
  if (Active_) {
    SetLastError("Quarn Error: Already open");
    TraceFmt("[Quarn] TCustomQuarn.Open (%s)", LastError());
    return false;
  }
  AdapterList list;
  char errbuf[PCAP_ERRBUF_SIZE] = "";
  if (pcap_findalldevs(&list.first, errbuf) != 0) {
    SetLastError(LibraryText(errbuf));
    return false;
  }
  const pcap_if_t* adapter = list.first;
  while (adapter && Text(adapter->name) != AdapterName_) adapter = adapter->next;
  if (!adapter) {
    SetLastError("Quarn Error: Invalid AdapterName");
    TraceFmt("[Quarn] TCustomQuarn.Open (%s)", LastError());
    return false;
  }
  if (!DoOpen(AdapterName_, nullptr, adapter) || !AcceptOpened()) return false;
  if (CaptureEnabled_) StartThread(ResumeThread);
  return true;
}

bool TCustomQuarn::Open(const std::string& Host, const std::string& UserName,
                        const std::string& Password) {
  if (Active_) {
    SetLastError("Quarn Error: Already open");
    TraceFmt("[Quarn] TCustomQuarn.Open (%s)", LastError());
    return false;
  }
  std::string user = UserName, password = Password;
  // Without a user name the daemon is asked for no authentication, which is what one started
  // with -n accepts; a user name asks it to check the password.
  pcap_rmtauth auth{};
  auth.type = user.empty() ? RPCAP_RMTAUTH_NULL : RPCAP_RMTAUTH_PWD;
  auth.username = user.empty() ? nullptr : user.data();
  auth.password = user.empty() ? nullptr : password.data();

  AdapterList list;
  char errbuf[PCAP_ERRBUF_SIZE] = "";
  const std::string source = "rpcap://" + Host + "/";
  if (pcap_findalldevs_ex(source.c_str(), &auth, &list.first, errbuf) != 0) {
    SetLastError(LibraryText(errbuf));
    return false;
  }
  TStringList names, descriptions;
  std::vector<const pcap_if_t*> entries;
  for (const pcap_if_t* d = list.first; d; d = d->next) {
    names.push_back(Text(d->name));
    descriptions.push_back(Text(d->description));
    entries.push_back(d);
  }
  int32_t chosen = -1;
  if (OnGetRemoteAdapterInfo) OnGetRemoteAdapterInfo(*this, names, descriptions, chosen);
  if (chosen < 0 || size_t(chosen) >= names.size()) {
    SetLastError("Quarn Error: Cancel By User or Invalid AdapterName");
    TraceFmt("[Quarn] TCustomQuarn.Open (%s)", LastError());
    return false;
  }
  if (!DoOpen(names[size_t(chosen)], &auth, entries[size_t(chosen)]) || !AcceptOpened() ||
      !StartRemoteCapture())
    return false;
  if (CaptureEnabled_) StartThread(true);
  return true;
}

bool TCustomQuarn::OpenFile(const std::string& FileName) {
  if (Active_) {
    SetLastError("Quarn Error: Already open");
    TraceFmt("[Quarn] TCustomQuarn.LoadFromFile (%s)", LastError());
    return false;
  }
  if (FileName.empty()) {
    SetLastError("Quarn Error: Invalid FileName");
    TraceFmt("[Quarn] TCustomQuarn.LoadFromFile (%s)", LastError());
    return false;
  }
  return DoOpen("file://" + FileName, nullptr, nullptr) && AcceptOpened();
}

namespace {
// Owns a program that pcap_compile filled in.
std::unique_ptr<bpf_program, void (*)(bpf_program*)> Keep(const bpf_program& program) {
  return {new bpf_program(program), [](bpf_program* p) {
            pcap_freecode(p);
            delete p;
          }};
}
}  // namespace

const bpf_program* TCustomQuarn::ProgramFor(int32_t linkType) const {
  if (linkType == FilterLinkType_) return FilterProgram_.get();
  for (const TOtherProgram& other : OtherPrograms_)
    if (other.LinkType == linkType) return other.Program.get();
  TFilterProgram compiled{nullptr, nullptr};
  // A dead handle of that link type is all pcap_compile needs. The expression compiled for
  // the source's own link type, so one that does not compile here (an Ethernet address where
  // frames carry none, an unknown link type) cannot pass such frames: they do not match.
  if (pcap_t* dead = pcap_open_dead(linkType, FilterSnapLen_)) {
    bpf_program program{};
    if (pcap_compile(dead, &program, Filter_.c_str(), 1, FilterNetmask_) == 0)
      compiled = Keep(program);
    else
      TraceFmt("[Quarn] TCustomQuarn.Matches filter (%s) for link type %d: %s", Filter_,
               linkType, LibraryText(pcap_geterr(dead)));
    pcap_close(dead);
  }
  OtherPrograms_.push_back({linkType, std::move(compiled)});
  return OtherPrograms_.back().Program.get();
}

bool TCustomQuarn::Matches(const PCAP_PKTHDR& header, const uint8_t* data,
                           int32_t linkType) const {
  if (!FilterProgram_) return true;
  const bpf_program* program = ProgramFor(linkType);
  if (!program) return false;
  pcap_pkthdr h{};
  h.ts.tv_sec = header.ts.tv_sec;
  h.ts.tv_usec = header.ts.tv_usec;
  h.caplen = header.caplen;
  h.len = header.len;
  return pcap_offline_filter(program, &h, data) != 0;
}

bool TCustomQuarn::LoadFromFile(const std::string& FileName) {
  if (!OpenFile(FileName)) return false;
  if (CaptureEnabled_) {
    for (;;) {
      pcap_pkthdr* header;
      const u_char* data;
      const int result = pcap_next_ex(Handle_, &header, &data);
      if (result == 1) {
        Deliver(header, data);
      } else if (result == 0) {
        continue;
      } else {
        if (result == -1) {
          SetLastError("Quarn Error: pcap_next_ex return -1");
          TraceFmt("[Quarn] TCustomQuarn.LoadFromFile (%s)", LastError());
        }
        break;  // -2: end of file
      }
    }
  }
  CloseHandle();
  return true;
}

bool TCustomQuarn::DoOpen(const std::string& source, pcap_rmtauth* auth,
                          const pcap_if* adapter) {
  char errbuf[PCAP_ERRBUF_SIZE] = "";
  static constexpr std::string_view FileScheme = "file://";
  pcap* opened = nullptr;
  if (source.starts_with(FileScheme))
    opened = OpenCaptureFile(source.substr(FileScheme.size()), FileBuffer_, errbuf);
  else {
    int localStatus = 0;
    opened = OpenSource(source, SnapLen_, Flags_, ReadTimeout_, BufferSize_, auth, errbuf,
                        localStatus);
    // A program without the rights to capture opens a local adapter through the helper, which
    // alone holds them; its text replaces the library's when it runs and fails too.
    if (!opened && localStatus == PCAP_ERROR_PERM_DENIED && adapter)
      opened = OpenThroughHelper(adapter, errbuf);
  }
  {
    std::lock_guard lock(HandleLock_);
    Handle_ = opened;
  }
  if (!Handle_) {
    SetLastError(LibraryText(errbuf));
    TraceFmt("[Quarn] TCustomQuarn.DoOpen pcap_open return nil (%s)", LastError());
    return false;
  }
  const int linkType = pcap_datalink(Handle_);
  if (linkType != DLT_EN10MB) TraceFmt("[Quarn] TCustomQuarn.DoOpen pcap_datalink=%d", linkType);
  if (!ProcessFilter(adapter)) {
    CloseHandle();
    return false;
  }
  // Source names the last source that opened: one whose filter was refused did not.
  Source_ = source;
  Active_ = true;
  return true;
}

// The library asks a remote daemon to start capturing only at the first read, not at the
// open: frames that pass the adapter before the capture thread's first read are never seen,
// and a daemon that cannot capture on the adapter is found out only then. One read here starts
// the capture, so that it runs when Open returns and a refusal fails the open. It waits at most
// for the client's half of the read time-out; a frame it brings is the first that the capture
// thread delivers (the library keeps it until the next read, which only that thread makes).
bool TCustomQuarn::StartRemoteCapture() {
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  const int result = pcap_next_ex(Handle_, &header, &data);
  if (result == 1) {
    FirstHeader_ = header;
    FirstData_ = data;
    return true;
  }
  if (result == 0) return true;
  SetLastError(LibraryText(pcap_geterr(Handle_)));
  TraceFmt("[Quarn] TCustomQuarn.Open pcap_next_ex return %d (%s)", result, LastError());
  CloseHandle();
  return false;
}

bool TCustomQuarn::TakeFirstFrame(const pcap_pkthdr*& header, const uint8_t*& data) {
  if (!FirstHeader_) return false;
  header = FirstHeader_;
  data = FirstData_;
  FirstHeader_ = nullptr;
  FirstData_ = nullptr;
  return true;
}

bool TCustomQuarn::AcceptOpened() {
  std::string refusal = OnOpened ? OnOpened(*this) : std::string();
  if (refusal.empty()) return true;
  SetLastError(std::move(refusal));
  CloseHandle();
  return false;
}

bool TCustomQuarn::ProcessFilter(const pcap_if* adapter) {
  bpf_program program{};
  const bpf_u_int32 netmask = NetmaskOf(adapter);
  const int compiled = pcap_compile(Handle_, &program, Filter_.c_str(), 1, netmask);
  if (compiled < 0) {
    SetLastError(LibraryText(pcap_geterr(Handle_)));
    TraceFmt("[Quarn] TCustomQuarn.ProcessFilter pcap_compile return %d (%s)", compiled,
             LastError());
    return false;
  }
  const int installed = pcap_setfilter(Handle_, &program);
  if (installed < 0) {
    pcap_freecode(&program);
    SetLastError(LibraryText(pcap_geterr(Handle_)));
    TraceFmt("[Quarn] TCustomQuarn.ProcessFilter pcap_compile %d minus (%s)", installed,
             LastError());
    return false;
  }
  // A reader of a file in place applies the filter itself (Matches); the library keeps its
  // own copy for the handle.
  OtherPrograms_.clear();
  if (Filter_.empty()) {
    pcap_freecode(&program);
    FilterProgram_.reset();
  } else {
    FilterProgram_ = Keep(program);
    FilterLinkType_ = pcap_datalink(Handle_);
    FilterSnapLen_ = pcap_snapshot(Handle_);
    FilterNetmask_ = netmask;
  }
  return true;
}

bool TCustomQuarn::StartThread(bool ResumeThread) {
  SetStopReason({});
  Thread_ = std::make_unique<TQuarnThread>(this);
  Thread_->ResumeOnOpen = ResumeThread;
  Thread_->SetFreeOnTerminate(false);
  return Thread_->Open();
}

bool TCustomQuarn::Close() {
  if (!Active_) return false;
  if (Thread_) {
    Thread_->Terminate();
    // Wakes a read that is waiting for its time-out, so that the thread sees the request now.
    // A read of the helper's stream is not woken by that: it ends when the helper has gone.
    pcap_breakloop(Handle_);
    StopHelper();
    Thread_->Close();
    Thread_.reset();
  }
  CloseHandle();
  return true;
}

void TCustomQuarn::CloseHandle() {
  StopHelper();
  {
    std::lock_guard lock(HandleLock_);
    pcap_close(Handle_);
    Handle_ = nullptr;
  }
  FilterProgram_.reset();
  OtherPrograms_.clear();
  FirstHeader_ = nullptr;
  FirstData_ = nullptr;
  Active_ = false;
}

// On Linux the counters come from the socket and from the interface, and for a remote source
// from a request to the daemon on the control connection; neither touches what the capture
// thread reads with, so that thread need not stop. A file has none to give.
bool TCustomQuarn::Statistics(TCaptureStatistics& statistics) {
  std::lock_guard lock(HandleLock_);
  if (!Handle_ || pcap_file(Handle_)) return false;
  pcap_stat counted{};
  if (pcap_stats(Handle_, &counted) != 0) return false;
  statistics.Received = counted.ps_recv;
  statistics.KernelDropped = counted.ps_drop;
  statistics.InterfaceDropped = counted.ps_ifdrop;
  return true;
}

void TCustomQuarn::Deliver(const pcap_pkthdr* header, const uint8_t* data) {
  SetCurrent(header, data);
  DoCapture();
}

void TCustomQuarn::SetCurrent(const pcap_pkthdr* header, const uint8_t* data) {
  CurHdr_.ts.tv_sec = int32_t(header->ts.tv_sec);
  CurHdr_.ts.tv_usec = int32_t(header->ts.tv_usec);
  CurHdr_.caplen = header->caplen;
  CurHdr_.len = header->len;
  CurPktHdr_ = &CurHdr_;
  CurEthHdr_ = reinterpret_cast<const ETH_HDR*>(data);
}

void TQuarn::DoCapture() {
  if (OnCapture) OnCapture(*this, CurPktHdr(), CurEthHdr());
}

pcap* TCustomQuarn::OpenThroughHelper(const pcap_if* adapter, char* errbuf) {
  const std::string helper = HelperPath();
  if (helper.empty() || access(helper.c_str(), X_OK) != 0) return nullptr;
  // The helper inherits only the write ends of two pipes: one for the frames, one for its
  // standard error; everything else of the program stays closed to it.
  int frames[2] = {-1, -1}, errors[2] = {-1, -1};
  if (pipe2(frames, O_CLOEXEC) != 0 || pipe2(errors, O_CLOEXEC) != 0) {
    CloseBoth(frames);
    CloseBoth(errors);
    return nullptr;
  }
  constexpr int HelperFd = 3;
  const std::string fd = std::to_string(HelperFd), snaplen = std::to_string(SnapLen_),
                    flags = std::to_string(Flags_), timeout = std::to_string(ReadTimeout_);
  std::string name = Text(adapter->name), filter = Filter_;
  std::vector<char*> argv;
  std::string program = helper;
  std::string options[] = {"--fd", "--adapter", "--filter", "--snaplen", "--flags", "--timeout"};
  argv.push_back(program.data());
  std::string values[] = {fd, name, filter, snaplen, flags, timeout};
  for (size_t i = 0; i < std::size(options); ++i) {
    argv.push_back(options[i].data());
    argv.push_back(values[i].data());
  }
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, errors[1], 2);
  posix_spawn_file_actions_adddup2(&actions, frames[1], HelperFd);
  posix_spawn_file_actions_addclosefrom_np(&actions, HelperFd + 1);
  // The helper is stopped with SIGTERM and must see a vanished reader as a write error,
  // whatever the program does with those signals itself.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGPIPE);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int spawned =
      posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(frames[1]);
  close(errors[1]);
  if (spawned != 0) {
    TraceFmt("[Quarn] TCustomQuarn.OpenThroughHelper cannot run %s (%s)", helper,
             std::strerror(spawned));
    close(frames[0]);
    close(errors[0]);
    return nullptr;
  }
  const std::string said = ReadToEnd(errors[0]);
  close(errors[0]);
  if (!said.empty()) {
    close(frames[0]);
    Reap(pid);
    std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s", said.c_str());
    return nullptr;
  }
  // The helper has written the stream's header; the library reads it here.
  FILE* stream = fdopen(frames[0], "rb");
  char libraryText[PCAP_ERRBUF_SIZE] = "";
  pcap_t* handle = stream ? pcap_fopen_offline(stream, libraryText) : nullptr;
  if (!handle) {
    TraceFmt("[Quarn] TCustomQuarn.OpenThroughHelper no stream from %s (%s)", helper,
             LibraryText(libraryText));
    if (stream)
      std::fclose(stream);
    else
      close(frames[0]);
    kill(pid, SIGTERM);
    Reap(pid);
    return nullptr;
  }
  HelperPid_ = pid;
  return handle;
}

void TCustomQuarn::StopHelper() {
  if (HelperPid_ < 0) return;
  kill(HelperPid_, SIGTERM);
  const int status = Reap(HelperPid_);
  HelperPid_ = -1;
  // A helper that died is why its stream ended: the user learns how it died.
  const std::string how = HowItEnded(status);
  std::lock_guard lock(ErrorLock_);
  if (!StopReason_.empty() && !how.empty()) StopReason_ += " (" + how + ")";
}
