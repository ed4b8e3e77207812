#pragma once
// Traffic for live capture tests: UDP datagrams to 127.0.0.1 on a private port, and a way to
// wait for deliveries that the capture thread hands to the main thread.
#include <cstdint>
#include <functional>
#include <string>

// A port from the private range, different for each test process.
uint16_t PrivatePort();
// Sends `payload` as one datagram to 127.0.0.1:port.
void SendDatagram(uint16_t port, const std::string& payload);
// Serves the main-thread queue (as the event loop would) until done() or ms pass.
bool ServeUntil(uint32_t ms, const std::function<bool()>& done);
// Polls done() every millisecond, without serving anything, until done() or ms pass.
bool PollUntil(uint32_t ms, const std::function<bool()>& done);
