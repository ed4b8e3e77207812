#include "presentation/Filing.h"

#include "presentation/Views.h"

// ---- Filing -----------------------------------------------------------------------------------

// A frame is filed by its type codes alone (EtherType, IP protocol) and by the payload length
// its header fields give. A type code that was not captured counts as absent, so a frame cut
// before it goes to the Ethernet list only; a frame whose type codes were captured but whose
// headers were cut short is filed by them, and its row shows empty cells for what is missing.
TListSet FrameLists(const ETH_HDR* frame, const uint8_t* end) {
  TListSet lists = ListBit(viETH);
  const IP_HDR* ip = nullptr;
  if (GetIPHeader(frame, end, &ip)) {
    lists |= ListBit(viIP);
    const TCP_HDR* tcp = nullptr;
    const UDP_HDR* udp = nullptr;
    if (GetTCPHeader(ip, end, &tcp)) {
      lists |= ListBit(viTCP);
      if (GetTCPData(ip, tcp, end)) lists |= ListBit(viTCPData);
    } else if (GetUDPHeader(ip, end, &udp)) {
      lists |= ListBit(viUDP);
      if (GetUDPData(ip, udp, end)) lists |= ListBit(viUDPData);
    } else if (GetICMPHeader(ip, end)) {
      lists |= ListBit(viICMP);
    }
  } else if (GetARPHeader(frame, end)) {
    lists |= ListBit(viARP);
  }
  return lists;
}
