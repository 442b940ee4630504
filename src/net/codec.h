// Values inside a record body: big-endian integers and length-prefixed byte
// strings. Every function takes a running index and returns the index just
// behind what it read or wrote, or a negative code (also the last error).
#pragma once

#include <cstdint>

// Length prefix: 0-252 itself; 253 + 4 bytes; 254 + 8 bytes; 255 invalid.
// Returns the prefix size (1, 5 or 9).
int net_read_length_prefix(const unsigned char* bytes, int32_t available, uint32_t* high, uint32_t* low);
int net_write_u32(unsigned char* buffer, int32_t index, int32_t capacity, uint32_t value);
int net_read_u8(const unsigned char* bytes, int32_t length, int32_t index, unsigned char* out);
int net_read_u32(const unsigned char* bytes, int32_t length, int32_t index, uint32_t* out);
// Copies a length-prefixed string into out; *capacity in: room, out: length.
int net_read_counted_bytes(const unsigned char* bytes, int32_t length, int32_t index, unsigned char* out,
                           int32_t* capacity);
// Writes a length prefix of value at buffer[index] in its shortest form.
int net_write_length_prefix(unsigned char* buffer, int32_t index, int32_t capacity, uint64_t value);
