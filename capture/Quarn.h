#pragma once
// The capture source: enumerates the local adapters, opens a local adapter, an adapter of a
// remote capture host ("rpcap://") or a capture file through libpcap, installs the capture
// filter and delivers every frame with its capture record header to OnCapture.
//
// It raises nothing: operations return a boolean, keep the text of the last failure in
// LastError() for the window to show, and write a trace line.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/LocalAdapter.h"
#include "capture/QuarnFrame.h"

struct pcap;
struct pcap_if;
struct pcap_rmtauth;
class TQuarnThread;

class TCustomQuarn;

// What the library counts for an open source since it opened: the frames that passed the
// capture filter, and those lost before this program could read them, because the kernel's
// ring was full or the interface itself had no room. A remote source reports what its capture
// host counts.
struct TCaptureStatistics {
  uint64_t Received = 0;
  uint64_t KernelDropped = 0;
  uint64_t InterfaceDropped = 0;
};

using TStringList = std::vector<std::string>;
using TOnCaptureEvent = std::function<void(TCustomQuarn& Sender, const PCAP_PKTHDR* PKTHdr,
                                           const ETH_HDR* ETHHdr)>;
// The handler chooses one of the remote adapters by setting AdapterIndex (it arrives as -1).
// Called once a source has opened and its filter is in place, before its first frame is
// delivered: the moment for the owner to give up the previous capture. It returns the reason to
// give the new source up after all (which becomes LastError), or an empty text to go on.
using TOnOpenedEvent = std::function<std::string(TCustomQuarn& Sender)>;
using TOnGetRemoteAdapterInfo =
    std::function<void(TCustomQuarn& Sender, const TStringList& AdapterNames,
                       const TStringList& AdapterDescriptions, int32_t& AdapterIndex)>;

class TCustomQuarn {
 public:
  TCustomQuarn();
  virtual ~TCustomQuarn();
  TCustomQuarn(const TCustomQuarn&) = delete;
  TCustomQuarn& operator=(const TCustomQuarn&) = delete;

  bool Active() const { return Active_; }

  int32_t AdapterIndex() const { return AdapterIndex_; }
  void SetAdapterIndex(int32_t value);
  const std::string& AdapterName() const { return AdapterName_; }
  void SetAdapterName(const std::string& value);
  const std::string& AdapterDescription() const { return AdapterDescription_; }
  void SetAdapterDescription(const std::string& value);
  const TStringList& AdapterNames() const { return AdapterNames_; }
  const TStringList& AdapterDescriptions() const { return AdapterDescriptions_; }

  bool CaptureEnabled() const { return CaptureEnabled_; }
  void SetCaptureEnabled(bool value) { CaptureEnabled_ = value; }
  bool ThreadSafe() const { return ThreadSafe_; }
  void SetThreadSafe(bool value) { ThreadSafe_ = value; }
  const std::string& Filter() const { return Filter_; }
  void SetFilter(const std::string& value) { Filter_ = value; }
  int32_t SnapLen() const { return SnapLen_; }
  void SetSnapLen(int32_t value) { SnapLen_ = value; }
  int32_t Flags() const { return Flags_; }
  void SetFlags(int32_t value) { Flags_ = value; }
  int32_t ReadTimeout() const { return ReadTimeout_; }
  void SetReadTimeout(int32_t value) { ReadTimeout_ = value; }
  // The kernel's ring for a local adapter, in bytes; the next Open uses it.
  int32_t BufferSize() const { return BufferSize_; }
  void SetBufferSize(int32_t value) { BufferSize_ = value; }

  // The library's counters for the open source; false when there is none or it keeps none (a
  // file, or an adapter read through the capture helper's stream). Any thread may ask, also
  // while the capture thread reads; the counters are gone once the source has closed, so a
  // caller that wants the final ones asks before Close.
  bool Statistics(TCaptureStatistics& statistics);

  // Written by the capture thread when a read fails; read by the window after Close.
  std::string LastError() const;
  // True once the capture thread has ended without being asked to: a read failed, the source
  // ended (a daemon that closed the connection, a capture helper that died) or a delivery
  // threw. The source stays open, and its frames delivered, until Close.
  bool CaptureEnded() const;
  // Why the capture thread ended on its own, in the library's words where it gave some; once
  // Close has reaped a capture helper, with how the helper ended. Empty while the capture runs
  // and for a capture that was closed as asked; kept after Close until the next open.
  std::string StopReason() const;
  const std::string& Source() const { return Source_; }
  pcap* Handle() const { return Handle_; }
  const PCAP_PKTHDR* CurPktHdr() const { return CurPktHdr_; }
  const ETH_HDR* CurEthHdr() const { return CurEthHdr_; }
  TQuarnThread* Thread() const { return Thread_.get(); }

  TOnGetRemoteAdapterInfo OnGetRemoteAdapterInfo;
  TOnOpenedEvent OnOpened;

  // Opens the local adapter named by AdapterName.
  bool Open(bool ResumeThread);
  // Opens an adapter of the remote capture host, chosen through OnGetRemoteAdapterInfo.
  bool Open(const std::string& Host, const std::string& UserName, const std::string& Password);
  // Reads a capture file and delivers all its frames, on the calling thread, before it returns.
  bool LoadFromFile(const std::string& FileName);
  // Opens a capture file for a caller that reads its frames itself, in place: the checks,
  // trace lines, capture filter and OnOpened of LoadFromFile, without reading a frame. Close
  // ends it.
  bool OpenFile(const std::string& FileName);
  // True when the capture filter passes the frame, whose link type (a DLT) is `linkType`;
  // always true without a filter. The filter was compiled for the source's link type when it
  // opened; a pcapng file's frames may have others, and the filter is compiled for each of
  // those at its first frame, with the same snapshot length. Called on one thread at a time.
  bool Matches(const PCAP_PKTHDR& header, const uint8_t* data, int32_t linkType) const;
  bool Close();

 protected:
  bool DoOpen(const std::string& source, pcap_rmtauth* auth, const pcap_if* adapter);
  bool ProcessFilter(const pcap_if* adapter);
  bool StartThread(bool ResumeThread);
  // OnOpened; when it gives the source up, closes it again.
  bool AcceptOpened();
  // Starts a remote source's capture at once (see the definition).
  bool StartRemoteCapture();
  // Closes the library's handle; the component is closed afterwards.
  void CloseHandle();
  // Opens the local adapter through the capture helper, for a program that lacks the rights
  // to capture; the handle reads the helper's stream. Null, with the helper's text in errbuf
  // (or errbuf untouched when there is no helper to run), when that fails.
  pcap* OpenThroughHelper(const pcap_if* adapter, char* errbuf);
  // Ends the capture helper, if one delivers the frames, and reaps it.
  void StopHelper();
  virtual void DoCapture() = 0;

 private:
  friend class TQuarnThread;
  void SetLastError(std::string text);
  void SetStopReason(std::string text);
  // Hands the frame read by StartRemoteCapture to the capture thread, once.
  bool TakeFirstFrame(const struct pcap_pkthdr*& header, const uint8_t*& data);
  // The first entry of `list` (names or descriptions) equal to `value`, case-sensitively,
  // becomes the chosen adapter; without one, no adapter is chosen.
  void SelectAdapter(const TStringList& list, const std::string& value);
  // Makes a frame read by the library the current one (CurPktHdr, CurEthHdr), with the
  // header converted to the 32-bit record.
  void SetCurrent(const struct pcap_pkthdr* header, const uint8_t* data);
  // SetCurrent, then DoCapture on the calling thread.
  void Deliver(const struct pcap_pkthdr* header, const uint8_t* data);

  bool Active_ = false;
  int32_t AdapterIndex_ = -1;
  std::string AdapterName_;
  std::string AdapterDescription_;
  TStringList AdapterNames_;
  TStringList AdapterDescriptions_;
  std::string Filter_;
  int32_t Flags_ = 1;
  int32_t ReadTimeout_ = 1;
  int32_t SnapLen_ = 65535;
  int32_t BufferSize_ = LocalRingBytes;
  bool ThreadSafe_ = true;
  bool CaptureEnabled_ = true;
  mutable std::mutex ErrorLock_;
  std::string LastError_;
  std::string StopReason_;
  std::string Source_;
  std::unique_ptr<TQuarnThread> Thread_;
  // Held while Handle_ closes, so that Statistics never asks a handle that is going.
  std::mutex HandleLock_;
  pcap* Handle_ = nullptr;
  // The compiled capture filter, kept for Matches; null without a filter.
  using TFilterProgram = std::unique_ptr<struct bpf_program, void (*)(struct bpf_program*)>;
  TFilterProgram FilterProgram_{nullptr, nullptr};
  // What FilterProgram_ was compiled for, and with which netmask: the others are compiled
  // alike.
  int32_t FilterLinkType_ = 0;
  int32_t FilterSnapLen_ = 0;
  uint32_t FilterNetmask_ = 0;
  // The filter compiled for the other link types Matches has met, null for one it does not
  // compile for.
  struct TOtherProgram {
    int32_t LinkType;
    TFilterProgram Program;
  };
  mutable std::vector<TOtherProgram> OtherPrograms_;
  const struct bpf_program* ProgramFor(int32_t linkType) const;
  // The capture helper whose stream Handle_ reads, or -1.
  int HelperPid_ = -1;
  // The stdio buffer of an open capture file; it outlives the stream, which pcap_close ends.
  std::unique_ptr<char[]> FileBuffer_;
  // A frame read while the source was being opened, for the capture thread to deliver first.
  const struct pcap_pkthdr* FirstHeader_ = nullptr;
  const uint8_t* FirstData_ = nullptr;
  PCAP_PKTHDR CurHdr_{};
  const PCAP_PKTHDR* CurPktHdr_ = nullptr;
  const ETH_HDR* CurEthHdr_ = nullptr;
};

class TQuarn : public TCustomQuarn {
 public:
  TOnCaptureEvent OnCapture;

 protected:
  void DoCapture() override;
};
