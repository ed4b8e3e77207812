// trellan-capture: opens a local adapter for a program that has no right to, and writes its
// frames as a pcap savefile stream to a pipe or socket the program handed down.
//
//   trellan-capture --fd N --adapter NAME [--filter EXPR] [--snaplen N] [--flags N] [--timeout N]
//
// It is installed with the capture capabilities and may be run by any member of the group
// allowed to capture, so everything it is given is checked before it touches an adapter: a
// refused argument prints one line to standard error and exits with 2. An adapter that cannot
// be opened prints the library's text there, the same text the window shows when it opens the
// adapter itself, and exits with 1. Once the adapter is open and filtered the helper gives up
// every capability, and standard error is pointed at /dev/null: the program sees it close
// without a word and knows the open succeeded.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "capture/LocalAdapter.h"

namespace {
constexpr size_t MaxAdapter = 255;
constexpr size_t MaxFilter = 4096;
constexpr size_t MaxNumber = 11;  // "-2147483648"

[[noreturn]] void Refuse(const std::string& why) {
  std::fprintf(stderr, "trellan-capture: %s\n", why.c_str());
  std::exit(2);
}

// A decimal int32 and nothing else: no sign but a leading '-', no spaces, no trailing text.
bool ParseInt32(std::string_view text, int& value) {
  if (text.empty() || text.size() > MaxNumber) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  if (text[0] == '-') v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  value = int(v);
  return true;
}

struct Options {
  int fd = -1;
  std::string adapter;
  std::string filter;
  int snaplen = 65535;
  int flags = 1;
  int timeout = 1;
};

Options Parse(int argc, char** argv) {
  Options o;
  bool seenFd = false, seenAdapter = false, seenFilter = false, seenSnaplen = false,
       seenFlags = false, seenTimeout = false;
  for (int i = 1; i < argc; i += 2) {
    const std::string_view name = argv[i];
    if (i + 1 >= argc) Refuse("missing value for " + std::string(name.substr(0, 32)));
    const std::string_view value = argv[i + 1];
    auto once = [&](bool& seen) {
      if (seen) Refuse("repeated option " + std::string(name));
      seen = true;
    };
    auto number = [&](int& out) {
      if (!ParseInt32(value, out)) Refuse("not a decimal int32 for " + std::string(name));
    };
    if (name == "--fd") {
      once(seenFd);
      number(o.fd);
    } else if (name == "--adapter") {
      once(seenAdapter);
      if (value.empty() || value.size() > MaxAdapter) Refuse("adapter name too long or empty");
      o.adapter = value;
    } else if (name == "--filter") {
      once(seenFilter);
      if (value.size() > MaxFilter) Refuse("filter too long");
      o.filter = value;
    } else if (name == "--snaplen") {
      once(seenSnaplen);
      number(o.snaplen);
    } else if (name == "--flags") {
      once(seenFlags);
      number(o.flags);
    } else if (name == "--timeout") {
      once(seenTimeout);
      number(o.timeout);
    } else {
      Refuse("unknown option " + std::string(name.substr(0, 32)));
    }
  }
  if (!seenFd) Refuse("--fd is required");
  if (!seenAdapter) Refuse("--adapter is required");
  // The descriptor must be one the caller opened and handed down, and a pipe or socket: a
  // helper with capabilities must not be talked into writing to a file.
  struct stat st;
  if (o.fd <= 2 || fstat(o.fd, &st) != 0) Refuse("--fd is not an open descriptor above 2");
  if (!S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode)) Refuse("--fd is not a pipe or socket");
  return o;
}

// An enumeration that is released on every path.
struct AdapterList {
  pcap_if_t* first = nullptr;
  ~AdapterList() {
    if (first) pcap_freealldevs(first);
  }
};

// Gives up every capability for good: empty sets, and no exec can bring any back.
bool DropCapabilities() {
  __user_cap_header_struct header{};
  header.version = _LINUX_CAPABILITY_VERSION_3;
  header.pid = 0;
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capset, &header, data) != 0) return false;
  prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
}

struct Sink {
  pcap_dumper_t* dumper;
  bool eachFrame;
  bool failed = false;
};

void Write(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
  auto* sink = reinterpret_cast<Sink*>(user);
  pcap_dump(reinterpret_cast<u_char*>(sink->dumper), header, bytes);
  if (sink->eachFrame && pcap_dump_flush(sink->dumper) != 0) sink->failed = true;
}
}  // namespace

int main(int argc, char** argv) {
  // Dispositions and the signal mask are inherited: a parent that ignores SIGTERM must still
  // be able to stop the helper. A reader that went away is a write error, which ends quietly.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGTERM, SIG_DFL);
  signal(SIGPIPE, SIG_IGN);

  const Options o = Parse(argc, argv);

  AdapterList list;
  char errbuf[PCAP_ERRBUF_SIZE] = "";
  if (pcap_findalldevs(&list.first, errbuf) != 0) {
    std::fprintf(stderr, "%s\n", errbuf);
    return 1;
  }
  const pcap_if_t* adapter = list.first;
  while (adapter && o.adapter != adapter->name) adapter = adapter->next;
  if (!adapter) Refuse("no such adapter");

  pcap_t* handle = OpenLocalAdapter(o.adapter.c_str(), o.snaplen, o.flags, o.timeout, errbuf);
  if (!handle) {
    std::fprintf(stderr, "%s\n", errbuf);
    return 1;
  }
  bpf_program program{};
  if (pcap_compile(handle, &program, o.filter.c_str(), 1, NetmaskOf(adapter)) < 0 ||
      pcap_setfilter(handle, &program) < 0) {
    std::fprintf(stderr, "%s\n", pcap_geterr(handle));
    return 1;
  }
  pcap_freecode(&program);
  if (!DropCapabilities()) {
    std::fprintf(stderr, "trellan-capture: cannot give up its capabilities: %s\n",
                 std::strerror(errno));
    return 1;
  }

  FILE* out = fdopen(o.fd, "wb");
  pcap_dumper_t* dumper = out ? pcap_dump_fopen(handle, out) : nullptr;
  if (!dumper || pcap_dump_flush(dumper) != 0) {
    std::fprintf(stderr, "trellan-capture: cannot write to the descriptor: %s\n",
                 dumper ? std::strerror(errno) : pcap_geterr(handle));
    return 1;
  }
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0 || dup2(null, STDERR_FILENO) < 0) return 1;
  close(null);

  // Frames go out as the library hands them over: after each one when the adapter is in
  // immediate mode, otherwise after each batch, which a read time-out ends, so that light
  // traffic is not held back in the stream's buffer.
  Sink sink{dumper, o.timeout <= 0};
  for (;;) {
    const int n = pcap_dispatch(handle, -1, Write, reinterpret_cast<u_char*>(&sink));
    if (n < 0 || sink.failed) break;  // a read error, or the reader went away
    if (pcap_dump_flush(dumper) != 0) break;
  }
  pcap_dump_close(dumper);
  pcap_close(handle);
  return 0;
}
