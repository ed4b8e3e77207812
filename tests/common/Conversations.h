#pragma once
// A capture of two conversations with everything a follower must cope with, shared by the
// pipeline, tool and window tests: a TCP connection 10.0.0.1:40000 -> 10.0.0.2:80 whose client
// sequence numbers wrap past 2^32, with a segment out of order, retransmissions overlapping
// bytes already sent, a server segment the capture lost and one cut by the snapshot length;
// a UDP exchange 10.0.0.1:5000 <-> 10.0.0.2:53 with a datagram cut short; and, interleaved,
// traffic between the same hosts on other ports.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/common/Frames.h"

// The bytes the client (side A) and server (side B) sent, from..to of each stream.
std::string ClientStream(size_t from, size_t to);
std::string ServerStream(size_t from, size_t to);
// The capture, frame number n (from 1) at index n - 1. The frame numbers the tests name:
namespace ConversationFrames {
constexpr int32_t OutOfOrder = 6;     // client bytes 400..600, ahead of 200..400
constexpr int32_t FillsHole = 7;      // client bytes 200..400
constexpr int32_t Overlap = 8;        // client bytes 550..700: 600..700 are new
constexpr int32_t ServerFirst = 10;   // server bytes 0..300, acknowledges the client's 700
constexpr int32_t ServerAhead = 11;   // server bytes 600..900; 300..600 were never captured
constexpr int32_t ClientAck = 12;     // acknowledges the server's 900
constexpr int32_t ServerCut = 13;     // server bytes 900..1400, only 900..1100 captured
constexpr int32_t UDPQuery = 15, UDPAnswer = 16, UDPCut = 18;
constexpr int32_t CutHeader = 21;     // a TCP frame cut before its flags: row 16 of TCP
}  // namespace ConversationFrames
std::vector<Record> ConversationCapture();
// The bytes of a file (empty when it cannot be read), to compare a saved stream with.
std::string FileContents(const std::string& path);
