#pragma once
// A real remote capture host for tests: the project's own rpcapd, listening on 127.0.0.1 on
// a free port, with a throw-away account that may capture.
//
// rpcapd checks the password against the shadow file and then switches to the account that
// logged in; an ordinary account cannot capture, so the account is a uid-0 alias with a
// random password, created for the run and removed afterwards. All of this needs root.
#include <string>
#include <sys/types.h>

bool RunningAsRoot();

class Rpcapd {
 public:
  // Throws std::runtime_error when the daemon or the account cannot be set up. A daemon
  // that asks for no authentication (rpcapd -n) has no account: User() is empty.
  explicit Rpcapd(bool withoutAuthentication = false);
  ~Rpcapd();
  Rpcapd(const Rpcapd&) = delete;
  Rpcapd& operator=(const Rpcapd&) = delete;

  std::string Host() const;  // "127.0.0.1:port"
  const std::string& User() const { return user_; }
  const std::string& Password() const { return password_; }
  int Port() const { return port_; }
  // Ends the daemon (as a crash would), for tests of a host that goes away.
  void Kill();

 private:
  std::string user_;
  std::string password_;
  int port_ = 0;
  pid_t pid_ = -1;
};
