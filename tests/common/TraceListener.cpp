#include "tests/common/TraceListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include "support/ZebTrace.h"

TraceListener::TraceListener(TZebTrace* trace) : trace_(trace ? trace : TraceLog) {
  if (!trace_) throw std::runtime_error("there is no trace to listen to");
  Listen(0);
  sockaddr_in a{};
  socklen_t size = sizeof a;
  if (getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
    close(fd_);
    throw std::runtime_error("cannot tell the port listened on");
  }
  savedPort_ = trace_->DestPort();
  trace_->SetDestPort(ntohs(a.sin_port));
}

TraceListener::TraceListener(WellKnownPort) {
  Listen(8908);
}

void TraceListener::Listen(uint16_t port) {
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (port != 0) {
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd_);
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
  }
}

TraceListener::~TraceListener() {
  if (trace_) trace_->SetDestPort(savedPort_);
  close(fd_);
}

std::vector<std::string> TraceListener::Take(int wait_ms) {
  std::vector<std::string> out;
  pollfd p{fd_, POLLIN, 0};
  int timeout = wait_ms;
  while (poll(&p, 1, timeout) > 0) {
    char buf[65536];
    const ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n < 0) break;
    out.emplace_back(buf, size_t(n));
    timeout = 20;  // the rest of a burst follows at once
  }
  return out;
}

std::vector<std::string> TraceListener::TakeMessages(int wait_ms) {
  auto all = Take(wait_ms);
  for (auto& s : all) s = s.size() > 9 ? s.substr(9) : std::string();
  return all;
}
