#include "tests/common/Loopback.h"

#include <arpa/inet.h>
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
