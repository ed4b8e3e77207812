#include "tests/common/Loopback.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <linux/if_packet.h>
#include <net/if.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "platform/MainThread.h"

uint16_t PrivatePort() { return uint16_t(49200 + getpid() % 10000); }

void SendDatagram(uint16_t port, const std::string& payload) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  close(fd);
}

bool ServeUntil(uint32_t ms, const std::function<bool()>& done) {
  return platform::WaitServingCalls(ms, [&] { return done(); });
}

bool PollUntil(uint32_t ms, const std::function<bool()>& done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

VethPair::VethPair(const std::string& name) : name_(name) {
  const std::string cmd = "ip link add " + name_ + " type veth peer name " + Peer() +
                          " && ip link set " + name_ + " up && ip link set " + Peer() + " up";
  ok_ = std::system((cmd + " >/dev/null 2>&1").c_str()) == 0;
}

VethPair::~VethPair() {
  if (ok_) (void)std::system(("ip link del " + name_ + " >/dev/null 2>&1").c_str());
}

void VethPair::BlastNumbered(const std::function<std::vector<uint8_t>(uint32_t)>& frame,
                             uint32_t count, const std::atomic<bool>& stop,
                             std::atomic<uint32_t>& sent) const {
  const int fd = socket(AF_PACKET, SOCK_RAW, 0);
  if (fd < 0) return;
  sockaddr_ll to{};
  to.sll_family = AF_PACKET;
  to.sll_ifindex = int(if_nametoindex(Peer().c_str()));
  to.sll_halen = 6;
  for (uint32_t n = 1; !stop && (count == 0 || n <= count);) {
    const std::vector<uint8_t> bytes = frame(n);
    if (sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0)
      sent = n++;
  }
  close(fd);
}

long VethPair::Blast(const std::vector<uint8_t>& frame, const std::atomic<bool>& stop) const {
  const int fd = socket(AF_PACKET, SOCK_RAW, 0);
  if (fd < 0) return 0;
  sockaddr_ll to{};
  to.sll_family = AF_PACKET;
  to.sll_ifindex = int(if_nametoindex(Peer().c_str()));
  to.sll_halen = 6;
  long sent = 0;
  while (!stop) {
    if (sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0)
      ++sent;
  }
  close(fd);
  return sent;
}
