// A settings file with any bytes at all, as a hand edit or a damaged disk may leave it: Load
// reads it, Save writes it back, and Load gives the very same values again, both in the same
// object and in a new one; a second Save writes the same file as the first.
//
// Input: the file's bytes.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "settings/Globals.h"

namespace {
// Every field of the settings, for comparing one loaded state with another.
auto Fields(const TGlobal& g) {
  return std::make_tuple(g.WindowState, g.Left, g.Top, g.Width, g.Height, g.ActiveListViewIndex,
                         g.OpenType, g.AdapterIndex, g.Host, g.UserName, g.Password,
                         g.DontShowJustOne, g.FileName, g.Filter, g.Flags, g.ReadTimeout,
                         g.SnapLen, g.ThreadSafe, g.ViewHexa, g.FollowNewRows, g.FilterList,
                         g.TCPDataOffset, g.UDPDataOffset);
}

std::string Folder() {
  // A memory file system where there is one: Save flushes the file to disk every time.
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
  std::string pattern = std::string(base ? base : "/tmp") + "/trellan-fuzz-settings.XXXXXX";
  FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
  return pattern;
}

std::string ReadFile(const std::string& path) {
  std::string text;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    while (const size_t n = std::fread(buffer, 1, sizeof buffer, f)) text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(f != nullptr);
  FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, f) == size);
  FUZZ_CHECK(std::fclose(f) == 0);
}

// A folder of its own for each input, removed when the input is done (after the settings
// objects, which save once more as they go), so that nothing is left behind a run.
struct Scratch {
  std::string Dir = Folder();
  std::string Ini = Dir + "/Trellan.ini";
  ~Scratch() {
    unlink(Ini.c_str());
    rmdir(Dir.c_str());
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Scratch scratch;
  WriteFile(scratch.Ini, data, size);

  TGlobal loaded(scratch.Ini);
  const auto first = Fields(loaded);
  // Save raises when the file cannot be written: as an uncaught exception, that is a finding.
  loaded.Save();
  const std::string saved = ReadFile(scratch.Ini);

  loaded.Load();
  FUZZ_CHECK(Fields(loaded) == first);
  TGlobal again(scratch.Ini);
  FUZZ_CHECK(Fields(again) == first);
  again.Save();
  FUZZ_CHECK(ReadFile(scratch.Ini) == saved);
  return 0;
}
