#pragma once
// Traffic for live capture tests: UDP datagrams to 127.0.0.1 on a private port, and a way to
// wait for deliveries that the capture thread hands to the main thread.
#include <cstdint>
#include <functional>
#include <atomic>
#include <string>
#include <vector>

// A port from the private range, different for each test process.
uint16_t PrivatePort();
// Sends `payload` as one datagram to 127.0.0.1:port.
void SendDatagram(uint16_t port, const std::string& payload);
// A veth pair made for the test (the second end is named with a "p"), removed at the end.
class VethPair {
 public:
  explicit VethPair(const std::string& name);
  ~VethPair();
  bool Ok() const { return ok_; }
  const std::string& Name() const { return name_; }
  std::string Peer() const { return name_ + "p"; }
  // Sends `frame` out of the peer end as fast as the kernel takes it, until `stop`; returns
  // the number sent.
  long Blast(const std::vector<uint8_t>& frame, const std::atomic<bool>& stop) const;
  // Sends frame(1), frame(2) ... out of the peer end as fast as the kernel takes them, each
  // once, up to frame(count) (no end for 0) or until `stop`; `sent` follows the last number
  // the kernel took.
  void BlastNumbered(const std::function<std::vector<uint8_t>(uint32_t)>& frame, uint32_t count,
                     const std::atomic<bool>& stop, std::atomic<uint32_t>& sent) const;

 private:
  std::string name_;
  bool ok_ = false;
};

// Serves the main-thread queue (as the event loop would) until done() or ms pass.
bool ServeUntil(uint32_t ms, const std::function<bool()>& done);
// Polls done() every millisecond, without serving anything, until done() or ms pass.
bool PollUntil(uint32_t ms, const std::function<bool()>& done);
