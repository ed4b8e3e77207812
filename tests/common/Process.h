#pragma once
// Facts about the test process itself.

#include <string>

// What a shell command prints on its standard output.
std::string Output(const std::string& command);

// The process's resident set, in bytes, as the kernel counts it.
long ResidentBytes();

// Takes one capability out of the calling thread's effective set for as long as it lives. It
// stays permitted, so that it comes back at the end: root then meets what an ordinary user
// meets in the calls this thread makes, while the programs it runs get every right again.
class WithoutCapability {
 public:
  explicit WithoutCapability(int capability);
  ~WithoutCapability();
  WithoutCapability(const WithoutCapability&) = delete;
  WithoutCapability& operator=(const WithoutCapability&) = delete;
  // Whether the calling thread has `capability` in its effective set now.
  static bool Effective(int capability);

 private:
  unsigned Saved_[2][3] = {};  // effective, permitted, inheritable of both words
};
