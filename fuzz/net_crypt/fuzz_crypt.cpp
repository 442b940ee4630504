// Feeds arbitrary bytes to the encrypted stream's decoders and to both
// sides of the key exchange, in pieces, as a peer would send them. Whatever
// a decoder accepts must fit its queue, and a stream the encoder made must
// come back unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "conn_fixture.h"
#include "net/cipher_hook.h"
#include "net/crypt.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Decodes the bytes as a received stream, fed in pieces of the given size.
void DecodeStream(net_coder_fn decode, int key_length, const uint8_t* data, size_t size,
                  int piece) {
  FakeConn c(4096, 4096, key_length);
  size_t pos = 0;
  while (pos < size) {
    int room = net_buffer_room(&c->erb);
    int n = static_cast<int>(std::min<size_t>({size - pos, size_t(piece), size_t(room)}));
    if (n > 0) net_buffer_append(&c->erb, data + pos, n);
    pos += size_t(n);
    int before_erb = net_buffer_used(&c->erb);
    int before_rb = net_buffer_used(&c->rb);
    int rc = decode(c.get());
    if (rc < 0) return;  // the connection would be released here
    Check(net_buffer_used(&c->rb) == before_rb + rc);
    Check(net_buffer_used(&c->rb) <= c->rb.capacity);
    if (rc == 0 && n == 0 && before_erb == net_buffer_used(&c->erb)) {
      // Stuck: a chunk larger than this queue, or rb full. Drain rb once.
      if (net_buffer_used(&c->rb) == 0) return;
      c.Take(&c->rb);
    }
    if (net_buffer_used(&c->rb) > 2048) c.Take(&c->rb);
  }
}

void RoundTrip(net_coder_fn encode, net_coder_fn decode, int key_length, const uint8_t* data,
               size_t size) {
  FakeConn a(32768, 32768, key_length), b(32768, 32768, key_length);
  for (int i = 0; i < 64; ++i) a->send_key[i] = b->recv_key[i] = uint8_t(i * 31 + size);
  net_buffer_append(&a->wb, data, static_cast<int>(std::min<size_t>(size, 32768)));
  std::vector<uint8_t> got;
  for (int i = 0; i < 64 && (net_buffer_used(&a->wb) > 0 || net_buffer_used(&b->erb) > 0); ++i) {
    Check(encode(a.get()) >= 0);
    a.SendTo(b);
    Check(decode(b.get()) >= 0);
    auto part = b.Take(&b->rb);
    got.insert(got.end(), part.begin(), part.end());
  }
  size_t sent = std::min<size_t>(size, 32768);
  Check(got.size() == sent && (sent == 0 || std::memcmp(got.data(), data, sent) == 0));
}

void KeyExchange(bool server, const uint8_t* data, size_t size, int piece) {
  FakeConn c(4096, 4096, 16, server ? 1 : 0);
  if (!server && keyex_start_client(c.get()) != 0) return;
  size_t pos = 0;
  while (pos < size && c->keyex_state != NET_KEYEX_DONE) {
    int n = static_cast<int>(std::min<size_t>({size - pos, size_t(piece),
                                               size_t(net_buffer_room(&c->erb))}));
    if (n <= 0) return;
    net_buffer_append(&c->erb, data + pos, n);
    pos += size_t(n);
    int step = server ? keyex_server_step(c.get()) : keyex_client_step(c.get());
    if (step < 0) return;
    c.Take(&c->ewb);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint8_t mode = data[0];
  int piece = 1 + data[1] % 64;
  data += 2;
  size -= 2;
  bool rijndael = mode & 1;
  net_coder_fn decode = rijndael ? net_decode_rijndael : net_decode_blowfish;
  net_coder_fn encode = rijndael ? net_encode_rijndael : net_encode_blowfish;
  int key_length = rijndael ? 16 + 8 * ((mode >> 1) % 3) : 4 + (mode >> 1) % 53;
  switch ((mode >> 6) & 3) {
    case 0:
      DecodeStream(decode, key_length, data, size, piece * 97);
      break;
    case 1:
      RoundTrip(encode, decode, key_length, data, size);
      break;
    case 2:
      if (net_cipher_available()) KeyExchange(false, data, size, piece);
      break;
    default:
      if (net_cipher_available()) KeyExchange(true, data, size, piece);
      break;
  }
  return 0;
}
