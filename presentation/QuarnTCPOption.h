#pragma once
// One TCP option at a time: its kind, length, first value bytes and name from the table of
// option kinds. TCPOptionText in Common walks a whole option area with it.
#include <cstdint>

struct TQuarnTCPOption {
  uint8_t Kind;
  // The length byte as read, kind and length bytes included; left as it was for EOL and NOP.
  uint8_t Length;
  // The first value bytes (at most 16 of the Length - 2 after the length byte). Bytes the
  // option does not have keep what an earlier option of the walk left there.
  uint8_t Value[16];
  // The name, zero-filled to the end.
  char Name[256];
};

// Decodes the option at p, with n option bytes left, into `option`, which one walk reuses
// without clearing it between options. Returns the bytes the option takes (its Length, or 1
// for EOL and NOP), or 0 to end the walk: nothing left, an option without its length byte or
// running past the n bytes, a length of 0, or a kind the table does not list.
int32_t DecodeTCPOption(const uint8_t* p, int32_t n, TQuarnTCPOption& option);
