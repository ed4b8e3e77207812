#include "tests/common/Process.h"

#include <cstdio>
#include <fstream>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

namespace {
__user_cap_header_struct CapabilityHeader() { return {_LINUX_CAPABILITY_VERSION_3, 0}; }
}  // namespace

WithoutCapability::WithoutCapability(int capability) {
  __user_cap_header_struct header = CapabilityHeader();
  __user_cap_data_struct now[2] = {};
  syscall(SYS_capget, &header, now);
  for (int i = 0; i < 2; ++i) {
    Saved_[i][0] = now[i].effective;
    Saved_[i][1] = now[i].permitted;
    Saved_[i][2] = now[i].inheritable;
  }
  now[capability / 32].effective &= ~(1u << (capability % 32));
  syscall(SYS_capset, &header, now);
}

WithoutCapability::~WithoutCapability() {
  __user_cap_header_struct header = CapabilityHeader();
  __user_cap_data_struct saved[2] = {};
  for (int i = 0; i < 2; ++i) saved[i] = {Saved_[i][0], Saved_[i][1], Saved_[i][2]};
  syscall(SYS_capset, &header, saved);
}

bool WithoutCapability::Effective(int capability) {
  __user_cap_header_struct header = CapabilityHeader();
  __user_cap_data_struct now[2] = {};
  syscall(SYS_capget, &header, now);
  return now[capability / 32].effective & (1u << (capability % 32));
}

std::string Output(const std::string& command) {
  std::FILE* p = popen(command.c_str(), "r");
  std::string out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  pclose(p);
  return out;
}
