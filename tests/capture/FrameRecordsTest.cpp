// Header location, address text and checksums on real frames built byte by byte.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "capture/PacketLayers.h"
#include "tests/common/Frames.h"

namespace {
// A frame held in an allocation of exactly its captured length, so that AddressSanitizer
// reports any read past the captured bytes.
struct Held {
  explicit Held(const Bytes& b, size_t caplen = SIZE_MAX)
      : size(std::min(caplen, b.size())), bytes(new uint8_t[size ? size : 1]) {
    std::memcpy(bytes.get(), b.data(), size);
  }
  const ETH_HDR* eth() const { return reinterpret_cast<const ETH_HDR*>(bytes.get()); }
  const uint8_t* end() const { return bytes.get() + size; }
  size_t size;
  std::unique_ptr<uint8_t[]> bytes;
};

// The frame decoded as an Ethernet frame by its type codes.
TPacketLayers L(const Held& h) {
  TPacketLayers layers;
  DecodeLayers(1, false, h.bytes.get(), h.end(), layers);
  return layers;
}
bool IsIPv4(const Held& h) { return L(h).Network == TNetworkKind::IPv4; }
bool IsARP(const Held& h) { return L(h).Network == TNetworkKind::ARP; }
const IP_HDR* IpOf(const Held& h) {
  EXPECT_TRUE(IsIPv4(h));
  return L(h).IP();
}
}  // namespace

TEST(FrameRecords, ClassifiesByTypeCodesOnly) {
  const Held tcp(TcpFrame({}, Text("hi")));
  const IP_HDR* ip = IpOf(tcp);
  ASSERT_NE(ip, nullptr);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(ip), tcp.bytes.get() + 14);
  const TCP_HDR* th = nullptr;
  EXPECT_TRUE((th = L(tcp).TCP()));
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(th), tcp.bytes.get() + 34);
  EXPECT_FALSE(L(tcp).UDP());
  EXPECT_FALSE(L(tcp).ICMP());
  EXPECT_FALSE(IsARP(tcp));

  const Held arp(Ethernet(kMacA, kMacB, 0x0806, ARPRequest(kMacB, Ip("10.0.0.1"), Ip("10.0.0.2"))));
  const ARP_HDR* ah = nullptr;
  EXPECT_TRUE((IsARP(arp) && (ah = L(arp).ARP())));
  EXPECT_EQ(be16(ah->ProtocolType), 0x0800);
  EXPECT_FALSE(IsIPv4(arp));

  // A VLAN tag hides the IP datagram behind it; IPv6 is not IPv4.
  const Bytes inner = IPv4({}, TCP({}, 1, 2, {}));
  const Bytes tagged = VlanTagged(5, inner);
  const Held vlan(Ethernet(kMacA, kMacB, 0x8100, tagged));
  EXPECT_FALSE(IsIPv4(vlan));
  EXPECT_FALSE(IsARP(vlan));
  const Held v6(Ethernet(kMacA, kMacB, 0x86DD, Bytes(40, 0)));
  EXPECT_FALSE(IsIPv4(v6));

  // Protocol 2 is IP and nothing more; an out pointer is left alone on false.
  IPv4Fields igmp;
  igmp.protocol = 2;
  const Held other(Ethernet(kMacA, kMacB, 0x0800, IPv4(igmp, Bytes(8, 0))));
  EXPECT_TRUE(IsIPv4(other));
  EXPECT_FALSE(L(other).UDP());
  EXPECT_FALSE(L(other).TCP());
  EXPECT_FALSE(L(other).ICMP());
}

TEST(FrameRecords, TransportHeaderIsAlwaysTwentyBytesAfterIp) {
  IPv4Fields withOptions;
  withOptions.options = {0x94, 0x04, 0x00, 0x00};  // router alert
  const Held h(TcpFrame({}, {}, withOptions));
  const IP_HDR* ip = IpOf(h);
  EXPECT_EQ(ip->VerLen, 0x46);
  const TCP_HDR* tcp = nullptr;
  ASSERT_TRUE((tcp = L(h).TCP()));
  EXPECT_EQ(be16(tcp->SrcPort), 0x9404);  // the option bytes, read as ports
  EXPECT_EQ(be16(tcp->DstPort), 0x0000);
  // The stored checksum covers 24 bytes; the computed one covers 20.
  ASSERT_TRUE(IPChecksum(ip, h.end()).has_value());
  EXPECT_NE(*IPChecksum(ip, h.end()), be16(ip->Checksum));
  // Decoded with IPv6 and VLAN, the header length counts.
  TPacketLayers deep;
  DecodeLayers(1, true, h.bytes.get(), h.end(), deep);
  ASSERT_TRUE(deep.TCP());
  EXPECT_EQ(deep.Transport, h.bytes.get() + 14 + 24);
  EXPECT_EQ(IPChecksum(ip, h.end(), deep.IPv4HeaderLength), be16(ip->Checksum));
  EXPECT_EQ(TCPChecksum(deep, deep.TCP()), be16(deep.TCP()->Checksum));
}

TEST(FrameRecords, PayloadAndOptionLengthsFollowTheHeaderFields) {
  {  // bare header: IP length 40, data offset 5
    const Held h(TcpFrame({}, {}));
    const IP_HDR* ip = IpOf(h);
    const TCP_HDR* tcp = nullptr;
    tcp = L(h).TCP();
    EXPECT_EQ(be16(ip->Len), 40);
    const uint8_t* data = nullptr;
    int32_t len = -99;
    EXPECT_FALSE(TCPPayload(L(h), &data, &len));
    EXPECT_EQ(len, 0);
    EXPECT_EQ(data, reinterpret_cast<const uint8_t*>(tcp) + 20);
    const uint8_t* opts = nullptr;
    EXPECT_FALSE(GetTCPOption(tcp, h.end(), &opts, &len));
    EXPECT_EQ(len, 0);
  }
  {  // data offset 8: twelve option bytes, payload after them
    TCPFields t;
    t.options = Bytes(12, 1);
    const Held h(TcpFrame(t, Text("abcde")));
    const TCP_HDR* tcp = nullptr;
    tcp = L(h).TCP();
    EXPECT_EQ(tcp->Off_Rsvd, 0x80);
    const uint8_t* opts = nullptr;
    int32_t len = 0;
    EXPECT_TRUE(GetTCPOption(tcp, h.end(), &opts, &len));
    EXPECT_EQ(len, 12);
    EXPECT_EQ(opts, reinterpret_cast<const uint8_t*>(tcp) + 20);
    const uint8_t* data = nullptr;
    EXPECT_TRUE(TCPPayload(L(h), &data, &len));
    EXPECT_EQ(len, 5);
    EXPECT_EQ(std::memcmp(data, "abcde", 5), 0);
  }
  {  // a negative length is still written out
    IPv4Fields lying;
    lying.totalLengthDelta = -30;
    const Held h(TcpFrame({}, {}, lying));
    int32_t len = 0;
    EXPECT_FALSE(TCPPayload(L(h), nullptr, &len));
    EXPECT_EQ(len, -30);
  }
  {  // UDP length 8: no payload; 9: one byte
    const Held empty(UdpFrame(53, 53, {}));
    const UDP_HDR* udp = nullptr;
    ASSERT_TRUE((udp = L(empty).UDP()));
    int32_t len = -1;
    EXPECT_FALSE(UDPPayload(L(empty), nullptr, &len));
    EXPECT_EQ(len, 0);
    const Held one(UdpFrame(53, 53, {0x41}));
    udp = L(one).UDP();
    const uint8_t* data = nullptr;
    EXPECT_TRUE(UDPPayload(L(one), &data, &len));
    EXPECT_EQ(len, 1);
    EXPECT_EQ(*data, 0x41);
    // The odd byte is padded as the high byte of a word.
    EXPECT_EQ(UDPChecksum(L(one), udp), be16(udp->Checksum));
  }
}

TEST(FrameRecords, AddressText) {
  const uint8_t broadcast[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const uint8_t mdns[6] = {0x01, 0x00, 0x5E, 0x00, 0x00, 0xFB};
  EXPECT_EQ(MacToStr(kMacA.b), "00A0C9-14C829");
  EXPECT_EQ(MacToStr(broadcast), "FFFFFF-FFFFFF");
  EXPECT_EQ(MacToStr(mdns), "01005E-0000FB");
  EXPECT_EQ(IPToStr(0x7F000001), "127.0.0.1");
  EXPECT_EQ(IPToStr(Ip("192.168.0.1")), "192.168.0.1");
  EXPECT_EQ(IPToStr(0), "0.0.0.0");
  EXPECT_EQ(IPToStr(0xFFFFFFFF), "255.255.255.255");
  EXPECT_EQ(IPToStr(Ip("10.100.105.9")), "10.100.105.9");
}

TEST(FrameRecords, ChecksumsOfCorrectPacketsMatchTheStoredValues) {
  TCPFields t;
  t.options = {0x02, 0x04, 0x05, 0xB4};
  const Held syn(TcpFrame(t, {}));
  const IP_HDR* ip = IpOf(syn);
  const TCP_HDR* tcp = nullptr;
  tcp = L(syn).TCP();
  EXPECT_EQ(IPChecksum(ip, syn.end()), be16(ip->Checksum));
  EXPECT_EQ(be16(ip->Checksum), 0x6744);
  EXPECT_EQ(TCPChecksum(L(syn), tcp), be16(tcp->Checksum));
  EXPECT_EQ(be16(tcp->Checksum), 0x46B4);

  const Held odd(TcpFrame({}, Text("odd")));  // odd segment length
  ip = IpOf(odd);
  tcp = L(odd).TCP();
  EXPECT_EQ(TCPChecksum(L(odd), tcp), be16(tcp->Checksum));

  const Held udp(UdpFrame(1234, 53, Text("query")));
  ip = IpOf(udp);
  const UDP_HDR* uh = nullptr;
  uh = L(udp).UDP();
  EXPECT_EQ(UDPChecksum(L(udp), uh), be16(uh->Checksum));

  // No checksum sent: the stored 0 is compared with the plain computed value.
  IPv4Fields f;
  f.protocol = 17;
  const Held none(Ethernet(kMacA, kMacB, 0x0800,
                           IPv4(f, UDP(1234, 53, f.src, f.dst, Text("query"), false))));
  ip = IpOf(none);
  uh = L(none).UDP();
  EXPECT_EQ(be16(uh->Checksum), 0);
  const Bytes withSum = UDP(1234, 53, f.src, f.dst, Text("query"), true);
  EXPECT_EQ(UDPChecksum(L(none), uh), uint16_t((withSum[6] << 8) | withSum[7]));
}

TEST(FrameRecords, AnyChangeInTheIpHeaderChangesItsChecksum) {
  const Held h(TcpFrame({}, Text("payload")));
  for (size_t i = 14; i < 34; ++i) {
    if (i == 24 || i == 25) continue;  // the checksum field itself
    Held changed(Bytes(h.bytes.get(), h.bytes.get() + h.size));
    changed.bytes[i] ^= 0x01;
    const IP_HDR* ip = IpOf(changed);
    EXPECT_NE(IPChecksum(ip, changed.end()), be16(ip->Checksum)) << "byte " << i;
  }
}

TEST(FrameRecords, NothingIsReadPastTheCapturedBytes) {
  TCPFields t;
  t.options = {0x02, 0x04, 0x05, 0xB4};
  const Bytes frames[] = {TcpFrame(t, Text("HELLOWORLD")), UdpFrame(7, 9, Text("datagram")),
                          Ethernet(kMacA, kMacB, 0x0806, ARPRequest(kMacB, 1, 2))};
  for (const Bytes& full : frames) {
    for (size_t caplen = 0; caplen <= full.size(); ++caplen) {
      const Held h(full, caplen);
      const IP_HDR* ip = nullptr;
      const bool isIp = (ip = L(h).IP(), IsIPv4(h));
      EXPECT_EQ(isIp, caplen >= 14 && full[12] == 0x08 && full[13] == 0x00);
      IsARP(h);
      if (!isIp) continue;
      IPChecksum(ip, h.end());
      EXPECT_EQ(IPChecksum(ip, h.end()).has_value(), caplen >= 34);
      const TCP_HDR* tcp = nullptr;
      const UDP_HDR* udp = nullptr;
      const uint8_t* p = nullptr;
      int32_t len = 0;
      if ((tcp = L(h).TCP())) {
        TCPPayload(L(h), &p, &len);
        GetTCPOption(tcp, h.end(), &p, &len);
        // The whole segment is needed for a verdict.
        EXPECT_EQ(TCPChecksum(L(h), tcp).has_value(), caplen == full.size());
      }
      if ((udp = L(h).UDP())) {
        UDPPayload(L(h), &p, &len);
        EXPECT_EQ(UDPChecksum(L(h), udp).has_value(), caplen == full.size());
      }
      L(h).ICMP();
    }
  }
  // A length field that claims far more than the frame holds gives no verdict.
  IPv4Fields lying;
  lying.totalLengthDelta = 1000;
  const Held big(TcpFrame({}, Text("x"), lying));
  const TCP_HDR* tcp = nullptr;
  tcp = L(big).TCP();
  EXPECT_FALSE(TCPChecksum(L(big), tcp).has_value());
  int32_t len = 0;
  EXPECT_TRUE(TCPPayload(L(big), nullptr, &len));
  EXPECT_EQ(len, 1001);  // the claimed length is reported; readers bound the window
}
