#pragma once
// An IPv4 UDP socket that sends datagrams to one fixed destination.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class DatagramSocket {
 public:
  DatagramSocket() = default;
  ~DatagramSocket();
  DatagramSocket(const DatagramSocket&) = delete;
  DatagramSocket& operator=(const DatagramSocket&) = delete;

  // Creates the socket and fixes the destination; false when either fails.
  bool Open(const std::string& host, uint16_t port);
  // Moves the destination to another port of the same host. Other threads may be sending
  // meanwhile: each datagram goes to the old port or to the new one.
  void SetPort(uint16_t port);
  // Sends without blocking; the result of the send is deliberately not reported.
  void SendTo(const void* data, size_t size) const;
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  uint32_t addr_ = 0;  // network order
  std::atomic<uint16_t> port_{0};  // network order
};

}  // namespace platform
