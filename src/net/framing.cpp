#include "net/framing.h"

#include "net/core.h"
#include "net/state.h"

namespace {

// The connection's read buffer, or null for a handle that is not valid.
net_buffer* read_buffer(conn_t h) { return net_conn_valid(h) ? &h.ptr->rb : nullptr; }

// Delivers bytes [0, length) of rb and consumes `consumed` bytes after the
// handler; the record is consumed even when the handler fails.
int deliver(conn_t h, net_buffer* rb, int offset, int length, int consumed) {
  int result = 0;
  if (h.ptr->record_handler != nullptr) result = h.ptr->record_handler(h, net_buffer_peek(rb) + offset, length);
  // The handler may have released the connection and its buffers.
  if (net_conn_valid(h)) net_buffer_consume(rb, nullptr, consumed);
  return result;
}

int parse_length_framed(conn_t h, int header) {
  net_buffer* rb = read_buffer(h);
  if (rb == nullptr) return net_fail(NET_ERR_INVALID);
  int used = net_buffer_used(rb);
  if (used < header) return 0;
  uint32_t length = net_read_length_header(net_buffer_peek(rb), header);
  if (header == 4 && length > NET_LEN32_MAX) return NET_ERR_BAD_LENGTH;
  // A record that cannot fit the read buffer would never complete and the
  // connection would hang until its idle time-out; refuse it now.
  if (static_cast<uint64_t>(length) + header > static_cast<uint64_t>(rb->capacity)) return NET_ERR_BAD_LENGTH;
  if (static_cast<uint64_t>(used) < static_cast<uint64_t>(length) + header) return 0;
  return deliver(h, rb, header, static_cast<int>(length), static_cast<int>(length) + header);
}

int send_length_framed(conn_t h, const void* bytes, int length, int header, uint32_t max_length) {
  if (!net_conn_valid(h)) return net_fail(NET_ERR_INVALID);
  if (length < 0 || (length > 0 && bytes == nullptr)) return net_fail(NET_ERR_INVALID);
  if (static_cast<uint32_t>(length) > max_length) return net_fail(NET_ERR_TOO_LONG);
  int64_t need = static_cast<int64_t>(length) + header;
  int room = net_conn_write_room(h);
  if (room < 0) return room;
  if (room < need) return net_fail(NET_ERR_WRITE_ROOM);
  unsigned char head[4];
  net_write_length_header(head, header, static_cast<uint32_t>(length));
  int r = net_conn_write(h, head, header);
  if (r < 0) return r;
  if (length > 0) {
    r = net_conn_write(h, bytes, length);
    if (r < 0) return r;
  }
  net_succeed();
  return static_cast<int>(need);
}

const net_framing kFramings[] = {
    {net_parse_len16, net_send_len16, 2},
    {net_parse_len32, net_send_len32, 4},
    {net_parse_line, net_send_line, 1},
    {net_parse_raw, net_send_raw, 0},
};

}  // namespace

void net_write_length_header(unsigned char* out, int header, uint32_t length) {
  for (int i = 0; i < header; ++i) out[i] = static_cast<unsigned char>(length >> (8 * (header - 1 - i)));
}

uint32_t net_read_length_header(const unsigned char* bytes, int header) {
  uint32_t length = 0;
  for (int i = 0; i < header; ++i) length = length << 8 | bytes[i];
  return length;
}

int net_parse_len16(conn_t h) { return parse_length_framed(h, 2); }
int net_parse_len32(conn_t h) { return parse_length_framed(h, 4); }

int net_parse_line(conn_t h) {
  net_buffer* rb = read_buffer(h);
  if (rb == nullptr) return net_fail(NET_ERR_INVALID);
  int used = net_buffer_used(rb);
  if (used == 0) return 0;
  const unsigned char* p = net_buffer_peek(rb);
  for (int i = 0; i < used; ++i) {
    if (p[i] == '\r' && i + 1 < used && p[i + 1] == '\n') return deliver(h, rb, 0, i, i + 2);
    if (p[i] == '\n') return deliver(h, rb, 0, i, i + 1);
  }
  // A full read buffer without a line end can never become a line.
  if (net_buffer_room(rb) == 0) return NET_ERR_BAD_LENGTH;
  return 0;
}

int net_parse_raw(conn_t h) {
  net_buffer* rb = read_buffer(h);
  if (rb == nullptr) return net_fail(NET_ERR_INVALID);
  int used = net_buffer_used(rb);
  if (used == 0) return 0;
  return deliver(h, rb, 0, used, used);
}

int net_send_len16(conn_t h, const void* bytes, int length) {
  return send_length_framed(h, bytes, length, 2, static_cast<uint32_t>(NET_LEN16_MAX));
}

int net_send_len32(conn_t h, const void* bytes, int length) {
  return send_length_framed(h, bytes, length, 4, NET_LEN32_MAX);
}

int net_send_line(conn_t h, const void* bytes, int length) {
  if (length < 0 || (length > 0 && bytes == nullptr)) return net_fail(NET_ERR_INVALID);
  int64_t need = static_cast<int64_t>(length) + 1;
  int room = net_conn_write_room(h);
  if (!net_conn_valid(h)) return net_fail(NET_ERR_INVALID);
  if (room < 0) return room;
  if (room < need) return net_fail(NET_ERR_WRITE_ROOM);
  if (length > 0) {
    int r = net_conn_write(h, bytes, length);
    if (r < 0) return r;
  }
  int r = net_conn_write(h, "\n", 1);
  if (r < 0) return r;
  net_succeed();
  return static_cast<int>(need);
}

int net_send_raw(conn_t h, const void* bytes, int length) {
  if (!net_conn_valid(h)) return net_fail(NET_ERR_INVALID);
  return net_conn_write(h, bytes, length);
}

const net_framing* net_framing_by_index(int index) {
  if (index < 0 || index > 3) return nullptr;
  return &kFramings[index];
}
