// A capture file, as a damaged or hostile file brings it, through what the window does over a
// whole capture once it is read: the frames filed again the other way and back, the views
// filtered, sorted by every column both ways and searched, and conversations followed. Each
// input costs many passes over every row of every view, so that this target tries far fewer
// files a second than capture_file, which checks the reading, the filing, the rows and the
// payload pane of each file.
//
// Input: as fuzz/CaptureInput.h says (the two data offsets, the decoding bit, the file).
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/CaptureInput.h"
#include "pipeline/CapturePipeline.h"
#include "pipeline/Conversation.h"
#include "pipeline/ShownRows.h"
#include "presentation/CellText.h"
#include "presentation/PacketLists.h"
#include "presentation/Views.h"

namespace {
// The frame numbers of every view's list, in order.
std::array<std::vector<uint32_t>, ViewCount> ListNumbers(const TCapturePipeline& capture) {
  std::array<std::vector<uint32_t>, ViewCount> numbers;
  for (int32_t view = 0; view < ViewCount; ++view) {
    const TNodeList& list = capture.List(view);
    numbers[size_t(view)].assign(list.Numbers(), list.Numbers() + list.Count());
  }
  return numbers;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CaptureReader p;
  const CaptureInput in(data, size);
  const std::string& path = p.File.Write(in.File);

  TCapturePipeline capture;
  capture.SetDecodeIPv6AndVLAN(in.Deep);
  // capture_file checks the reading against libpcap's; a file that cannot be opened has
  // nothing to work on.
  std::string unread;
  if (capture.ReadFile(p.Quarn, path, unread) == TCapturePipeline::TReadResult::Failed) return 0;

  // Filed again the other way and back, every list is as it was.
  const auto filed = ListNumbers(capture);
  FUZZ_CHECK(capture.Refile(!in.Deep) && capture.Refile(in.Deep));
  FUZZ_CHECK(ListNumbers(capture) == filed);

  // The views as shown: filtered, then sorted by each column both ways, every view holds
  // exactly the frames of its list the filter passes, and a search ends.
  TShownViews shown;
  std::string error;
  // libpcap refuses the expression for a link type without those protocols: it says so, and
  // every frame stays shown.
  const bool filtered = shown.ApplyFilter(capture, "tcp or udp or arp", error);
  FUZZ_CHECK(filtered != !error.empty());
  const TShownViews::TOffsets offsets{in.TCPOffset, in.UDPOffset};
  for (int32_t view = 0; view < ViewCount; ++view) {
    std::vector<uint32_t> passed;
    const TPacketList list = capture.Items(view);
    for (size_t r = 0; r < list.size(); ++r)
      if (!filtered || shown.Filter().Matches(list[r])) passed.push_back(uint32_t(list[r].Index));
    const int32_t columns = int32_t(ViewColumnCount(view));
    for (int32_t column = -1; column < columns; ++column) {
      for (const bool descending : {false, true}) {
        FUZZ_CHECK(shown.Sort(capture, view, column, descending, offsets));
        const TPacketList items = shown.Items(capture, view);
        std::vector<uint32_t> numbers;
        for (size_t r = 0; r < items.size(); ++r) numbers.push_back(uint32_t(items[r].Index));
        std::sort(numbers.begin(), numbers.end());
        FUZZ_CHECK(numbers == passed);
      }
    }
    TFindQuery query;
    query.Text = "GET";
    FindRow(view, shown.Items(capture, view), -1, true, query, offsets);
  }

  // A conversation followed from the first and the last row of the TCP and UDP views refers
  // only to bytes its frames hold, and counts them.
  for (const int32_t view : {viTCP, viUDP}) {
    const TPacketList items = capture.Items(view);
    if (items.size() == 0) continue;
    for (const size_t r : {size_t(0), items.size() - 1}) {
      const auto conversation = FollowConversation(capture, items[r]);
      if (!conversation) continue;
      std::array<uint64_t, 2> bytes{}, missing{};
      for (const TConversationChunk& chunk : conversation->Chunks) {
        FUZZ_CHECK(chunk.Side < 2);
        if (chunk.Gap) {
          missing[chunk.Side] += chunk.Length;
          continue;
        }
        FUZZ_CHECK(ChunkBytes(capture.Store(), chunk).size() == chunk.Length);
        bytes[chunk.Side] += chunk.Length;
      }
      FUZZ_CHECK(bytes == conversation->Bytes && missing == conversation->Missing);
    }
  }
  return 0;
}
