#include "tests/common/Rpcapd.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <netinet/in.h>
#include <random>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  close(fd);
  return ntohs(a.sin_port);
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

std::string RandomToken(size_t n) {
  static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device rd;
  std::string s;
  for (size_t i = 0; i < n; ++i) s += alphabet[rd() % (sizeof alphabet - 1)];
  return s;
}

void Run(const std::string& command) {
  if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) throw std::runtime_error("failed: " + command);
}
}  // namespace

bool RunningAsRoot() { return geteuid() == 0; }

Rpcapd::Rpcapd(bool withoutAuthentication) {
  if (!RunningAsRoot()) throw std::runtime_error("rpcapd tests need root");
  // Accounts left behind by a run that was killed before it could remove them.
  (void)std::system("awk -F: '$1 ~ /^trl[a-z0-9]{8}$/ && $3 == 0 {print $1}' /etc/passwd"
                    " | xargs -r -n1 userdel -f >/dev/null 2>&1");
  if (!withoutAuthentication) {
    user_ = "trl" + RandomToken(8);
    password_ = RandomToken(16);
    Run("useradd -o -u 0 -g 0 -M -d /nonexistent -s /usr/sbin/nologin " + user_);
    Run("echo '" + user_ + ":" + password_ + "' | chpasswd");
  }
  port_ = FreePort();
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);
    // The daemon must not hold the test's output open after the test.
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    const std::string port = std::to_string(port_);
    execl(TRELLAN_RPCAPD, "rpcapd", "-4", "-b", "127.0.0.1", "-p", port.c_str(),
          withoutAuthentication ? "-n" : static_cast<char*>(nullptr), static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 500 && !Accepts(port_); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!Accepts(port_)) {
    Kill();
    throw std::runtime_error("rpcapd did not start");
  }
}

Rpcapd::~Rpcapd() {
  Kill();
  if (!user_.empty()) (void)std::system(("userdel -f " + user_ + " >/dev/null 2>&1").c_str());
}

std::string Rpcapd::Host() const { return "127.0.0.1:" + std::to_string(port_); }

void Rpcapd::Kill() {
  if (pid_ <= 0) return;
  // rpcapd serves each client in a child of its own; end the whole group.
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}
