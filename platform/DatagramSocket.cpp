#include "platform/DatagramSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

DatagramSocket::~DatagramSocket() { Close(); }

bool DatagramSocket::Open(const std::string& host, uint16_t port) {
  Close();
  in_addr a{};
  if (inet_pton(AF_INET, host.c_str(), &a) != 1) return false;
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  addr_ = a.s_addr;
  port_ = htons(port);
  return true;
}

void DatagramSocket::SetPort(uint16_t port) { port_.store(htons(port), std::memory_order_relaxed); }

void DatagramSocket::SendTo(const void* data, size_t size) const {
  if (fd_ < 0) return;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = port_.load(std::memory_order_relaxed);
  to.sin_addr.s_addr = addr_;
  // MSG_DONTWAIT: a trace line must never hold up the thread that writes it.
  (void)sendto(fd_, data, size, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
}

void DatagramSocket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace platform
