#include "net/dh.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "net/cipher_hook.h"
#include "net/conn.h"
#include "net/core.h"
#include "platform/random.h"
#include "platform/system.h"
#include "trust/gcrypt_init.h"

#include <gcrypt.h>

const char NET_DH_GENERATOR[] = "2";
const char NET_DH_PRIME[] =
    "ffffffffffffffffc90fdaa22168c234c4c6628b80dc1cd1"
    "29024e088a67cc74020bbea63b139b22514a08798e3404dd"
    "ef9519b3cd3a431b302b0a6df25f14374fe1356d6d51c245"
    "e485b576625e7ec6f44c42e9a637ed6b0bff5cb6f406b7ed"
    "ee386bfb5a899fa5ae9f24117c4b1fe649286651ece65381"
    "ffffffffffffffff";

namespace {

void PutBE32(uint8_t* p, int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  p[0] = uint8_t(u >> 24);
  p[1] = uint8_t(u >> 16);
  p[2] = uint8_t(u >> 8);
  p[3] = uint8_t(u);
}

int32_t GetBE32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 |
                              uint32_t(p[3]));
}

void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A number text we are willing to hand to the big-number library: one to
// NET_KEYEX_MAX_NUMBER hexadecimal digits and nothing else. Anything else
// from a peer would be parsed only up to its first stray character and
// silently give a different key on each side.
bool IsHexNumber(const char* text) {
  if (text == nullptr || text[0] == '\0') return false;
  int n = 0;
  for (; text[n] != '\0'; ++n)
    if (n >= NET_KEYEX_MAX_NUMBER || HexValue(text[n]) < 0) return false;
  return true;
}

void Wipe(void* p, size_t n) {
  volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
  while (n--) *v++ = 0;
}

void PutText(uint8_t* out, int32_t* pos, const char* text) {
  int32_t len = static_cast<int32_t>(std::strlen(text));
  PutBE32(out + *pos, len);
  std::memcpy(out + *pos + 4, text, static_cast<size_t>(len));
  *pos += 4 + len;
}

}  // namespace

bool net_sha1_digest(const void* data, size_t len, uint8_t* digest) {
  if (!net_keyex_available()) {
    std::memset(digest, 0, NET_SHA1_SIZE);
    return false;
  }
  gcry_md_hash_buffer(GCRY_MD_SHA1, digest, data, len);
  return true;
}

void net_sha1_keygen_from(const net_keygen_inputs& in, char* out, int size) {
  if (out == nullptr || size <= 0) return;
  // The hashed bytes: the four numbers little-endian, then the OS bytes.
  uint8_t seed[16 + sizeof in.os_random];
  PutLE32(seed, in.time_sec);
  PutLE32(seed + 4, in.process_id);
  PutLE32(seed + 8, in.tick_ms);
  PutLE32(seed + 12, in.pseudo_random);
  std::memcpy(seed + 16, in.os_random, sizeof in.os_random);
  uint8_t digest[NET_SHA1_SIZE];
  bool ok = net_sha1_digest(seed, sizeof seed, digest);
  // The text is the digest in lowercase hexadecimal: what the middleware's
  // own SHA-1 printed as its five state words, each "%08lx".
  static const char kDigits[] = "0123456789abcdef";
  char text[2 * NET_SHA1_SIZE + 1] = "";
  if (ok) {
    for (int i = 0; i < NET_SHA1_SIZE; ++i) {
      text[2 * i] = kDigits[digest[i] >> 4];
      text[2 * i + 1] = kDigits[digest[i] & 15];
    }
    text[2 * NET_SHA1_SIZE] = '\0';
  }
  std::snprintf(out, static_cast<size_t>(size), "%s", text);
  // The text is a private exponent.
  Wipe(seed, sizeof seed);
  Wipe(digest, sizeof digest);
  Wipe(text, sizeof text);
}

void net_sha1_keygen(char* out, int size) {
  if (size < 41)
    net_log_verbose(
        "Warning:4220 SHA-1 keygen output buffer is smaller than 40byte. It usually needs 40 "
        "byte. len:%d\n",
        size);
  net_keygen_inputs in{};
  in.time_sec = static_cast<uint32_t>(std::time(nullptr));
  in.process_id = plat::GetCurrentProcessId();
  in.tick_ms = plat::GetTickCount();
  std::srand(in.time_sec);
  in.pseudo_random = static_cast<uint32_t>(std::rand()) + net_heartbeat_count();
  // The four values above are guessable and repeat within a millisecond;
  // the OS random bytes are what keeps two exponents apart.
  if (!plat::GetRandomBytes(in.os_random, sizeof in.os_random))
    net_log_important("Warning:4221 SHA-1 keygen: no bytes from the system random source\n");
  net_sha1_keygen_from(in, out, size);
}

void net_key_from_hex(const char* text, uint8_t* key, int key_len) {
  if (text == nullptr || key == nullptr) return;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
  size_t n = std::strlen(text);
  if (n < 2) return;
  for (int i = 0; i < key_len && size_t(2 * i) < n; ++i) {
    int hi = HexValue(text[2 * i]);
    int lo = size_t(2 * i + 1) < n ? HexValue(text[2 * i + 1]) : 0;
    key[i] = uint8_t((hi < 0 ? 0 : hi) << 4 | (lo < 0 ? 0 : lo));
  }
}

bool net_keyex_available() {
  static const bool ready = [] {
    if (InitGcrypt()) return true;
    net_log_important("Fatal: libgcrypt is older than %s\n", GCRYPT_VERSION);
    return false;
  }();
  return ready;
}

namespace {

// Writes a number as uppercase hexadecimal text of whole bytes without
// leading zero bytes, "0" for zero: the form the peers have always sent.
bool PrintHex(gcry_mpi_t n, char* out, int size) {
  unsigned char bytes[NET_KEYEX_TEXT_ROOM / 2];
  size_t len = 0;
  if (gcry_mpi_print(GCRYMPI_FMT_USG, bytes, sizeof bytes, &len, n) != 0) return false;
  static const char kDigits[] = "0123456789ABCDEF";
  char text[NET_KEYEX_TEXT_ROOM + 1] = "0";
  for (size_t i = 0; i < len; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 15];
  }
  if (len > 0) text[2 * len] = '\0';
  std::snprintf(out, static_cast<size_t>(size), "%s", text);
  Wipe(bytes, sizeof bytes);
  Wipe(text, sizeof text);
  return true;
}

}  // namespace

int net_modexp_hex(const char* base, const char* modulus, const char* exponent, char* out,
                   int size) {
  if (out == nullptr || size <= 0) return -1;
  out[0] = '\0';
  if (!IsHexNumber(base) || !IsHexNumber(modulus) || !IsHexNumber(exponent)) return -1;
  if (!net_keyex_available()) return -1;
  gcry_mpi_t b = nullptr, m = nullptr, e = nullptr;
  gcry_mpi_t r = gcry_mpi_new(0);
  int result = -1;
  if (gcry_mpi_scan(&b, GCRYMPI_FMT_HEX, base, 0, nullptr) == 0 &&
      gcry_mpi_scan(&m, GCRYMPI_FMT_HEX, modulus, 0, nullptr) == 0 &&
      gcry_mpi_scan(&e, GCRYMPI_FMT_HEX, exponent, 0, nullptr) == 0 &&
      gcry_mpi_cmp_ui(m, 0) != 0) {
    gcry_mpi_powm(r, b, e, m);
    if (PrintHex(r, out, size)) result = 0;
  }
  // The exponent is a secret: libgcrypt wipes a number's memory when it is
  // released.
  for (gcry_mpi_t n : {b, m, e, r}) gcry_mpi_release(n);
  return result;
}

void net_keyex_write_client_hello(uint8_t* out, int32_t key_length) {
  PutBE32(out, NET_CRYPT_VERSION);
  PutBE32(out + 4, key_length);
}

int net_keyex_parse_server_hello(const uint8_t* in, int32_t len, net_server_hello* hello) {
  if (len < 16) return 0;
  hello->status = GetBE32(in);
  if (hello->status != NET_KEYEX_ACCEPTED) return NET_ERR_KEYEX_PEER;
  int32_t glen = GetBE32(in + 4);
  if (glen < 0 || glen > NET_KEYEX_MAX_GENERATOR) return NET_ERR_NOROOM;
  int32_t pos = 8 + glen;
  if (len < pos + 4) return 0;
  int32_t plen = GetBE32(in + pos);
  if (plen < 0 || plen > NET_KEYEX_MAX_NUMBER) return NET_ERR_NOROOM;
  pos += 4 + plen;
  if (len < pos + 4) return 0;
  int32_t klen = GetBE32(in + pos);
  if (klen < 0 || klen > NET_KEYEX_MAX_NUMBER) return NET_ERR_NOROOM;
  int32_t total = pos + 4 + klen;
  if (len < total) return 0;
  hello->generator = {reinterpret_cast<const char*>(in + 8), glen};
  hello->prime = {reinterpret_cast<const char*>(in + 12 + glen), plen};
  hello->public_key = {reinterpret_cast<const char*>(in + pos + 4), klen};
  return total;
}

int32_t net_keyex_server_hello_size(const char* generator, const char* prime,
                                    const char* public_key) {
  return static_cast<int32_t>(16 + std::strlen(generator) + std::strlen(prime) +
                              std::strlen(public_key));
}

void net_keyex_write_server_hello(uint8_t* out, int32_t status, const char* generator,
                                  const char* prime, const char* public_key) {
  PutBE32(out, status);
  int32_t pos = 4;
  PutText(out, &pos, generator);
  PutText(out, &pos, prime);
  PutText(out, &pos, public_key);
}

int net_keyex_parse_client_key(const uint8_t* in, int32_t len, net_keyex_text* public_key,
                               int32_t* bad_len) {
  if (len < 4) return 0;
  int32_t klen = GetBE32(in);
  // Judge the length before waiting for the text: a bad one would never
  // complete.
  if (klen < 0 || klen > NET_KEYEX_MAX_NUMBER) {
    if (bad_len != nullptr) *bad_len = klen;
    return NET_ERR_KEYEX_PEER;
  }
  if (len < 4 + klen) return 0;
  *public_key = {reinterpret_cast<const char*>(in + 4), klen};
  return 4 + klen;
}

void net_keyex_write_client_key(uint8_t* out, const char* public_key) {
  int32_t pos = 0;
  PutText(out, &pos, public_key);
}

bool net_keyex_copy_number(const net_keyex_text& t, char* out) {
  int32_t n = t.len < 0 ? 0 : (t.len < NET_KEYEX_TEXT_ROOM ? t.len : NET_KEYEX_TEXT_ROOM - 1);
  std::memcpy(out, t.text, static_cast<size_t>(n));
  out[n] = '\0';
  // A zero byte inside the text would cut it short without notice.
  return n == t.len && IsHexNumber(out) && std::strlen(out) == static_cast<size_t>(n);
}

// ---- The exchange on a connection ----

namespace {

// Keeps a text in a fixed field of the connection record, cut to fit.
template <size_t N>
void Keep(char (&field)[N], const char* text) {
  size_t n = std::strlen(text);
  if (n > N - 1) n = N - 1;
  std::memcpy(field, text, n);
  field[n] = '\0';
}

// Private exponent and the public value for it; false when the group's
// numbers are unusable.
bool MakeKeyPair(net_conn* c, const char* generator, const char* prime, char* public_key) {
  char exponent[64];
  net_sha1_keygen(exponent, sizeof exponent);
  Keep(c->keyex_private, exponent);
  bool ok = net_modexp_hex(generator, prime, exponent, public_key, NET_KEYEX_TEXT_ROOM) == 0;
  Wipe(exponent, sizeof exponent);
  return ok;
}

// Shared secret from the peer's public value; sets both keys.
bool SetSharedKeys(net_conn* c, const char* peer_public, const char* prime) {
  char secret[NET_KEYEX_TEXT_ROOM];
  bool ok = net_modexp_hex(peer_public, prime, c->keyex_private, secret, sizeof secret) == 0;
  if (ok) net_conn_keys_from_hex(c, secret);
  Wipe(secret, sizeof secret);
  return ok;
}

}  // namespace

void net_conn_keys_from_hex(net_conn* c, const char* text) {
  // The key length comes from the context and is not checked there when no
  // cipher bit is set; never write past the key fields.
  int key_len = c->key_length;
  if (key_len > static_cast<int>(sizeof c->recv_key)) key_len = sizeof c->recv_key;
  if (key_len <= 0) return;
  net_key_from_hex(text, c->recv_key, key_len);
  std::memcpy(c->send_key, c->recv_key, static_cast<size_t>(key_len));
}

int keyex_start_client(net_conn* c) {
  uint8_t hello[NET_CLIENT_HELLO_SIZE];
  net_keyex_write_client_hello(hello, c->key_length);
  if (net_buffer_append(&c->ewb, hello, sizeof hello) < 0) return NET_ERR_NOROOM;
  c->keyex_state = 1;
  return 0;
}

int keyex_client_step(net_conn* c) {
  if (c->keyex_state != 1) return NET_ERR_TWICE;
  net_server_hello hello;
  int size = net_keyex_parse_server_hello(net_buffer_peek(&c->erb), net_buffer_used(&c->erb),
                                          &hello);
  if (size <= 0) return size;
  // The numbers are used at full length; the record keeps what fits.
  char generator[NET_KEYEX_TEXT_ROOM];
  char prime[NET_KEYEX_TEXT_ROOM];
  char server_public[NET_KEYEX_TEXT_ROOM];
  if (!net_keyex_copy_number(hello.generator, generator) ||
      !net_keyex_copy_number(hello.prime, prime) ||
      !net_keyex_copy_number(hello.public_key, server_public))
    return NET_ERR_KEYEX_PEER;
  Keep(c->keyex_generator, generator);
  Keep(c->keyex_prime, prime);
  Keep(c->keyex_peer_public, server_public);
  char client_public[NET_KEYEX_TEXT_ROOM];
  if (!MakeKeyPair(c, generator, prime, client_public)) return NET_ERR_KEYEX_PEER;
  Keep(c->keyex_public, client_public);
  if (!SetSharedKeys(c, server_public, prime)) return NET_ERR_KEYEX_PEER;
  int32_t reply = 4 + static_cast<int32_t>(std::strlen(client_public));
  if (net_buffer_room(&c->ewb) < reply) return NET_ERR_KEYEX_ROOM;
  uint8_t message[4 + NET_KEYEX_TEXT_ROOM];
  net_keyex_write_client_key(message, client_public);
  net_buffer_consume(&c->erb, nullptr, size);
  net_buffer_append(&c->ewb, message, reply);
  c->keyex_state = NET_KEYEX_DONE;
  net_log_verbose("Note:10332 key exchange: encryption negotiation is done on fd %d\n", c->socket);
  return 0;
}

namespace {

int ServerAnswerHello(net_conn* c) {
  if (net_buffer_used(&c->erb) < NET_CLIENT_HELLO_SIZE) return 0;
  if (net_buffer_room(&c->ewb) < NET_KEYEX_SERVER_ROOM) return NET_ERR_KEYEX_ROOM;
  const uint8_t* in = net_buffer_peek(&c->erb);
  int32_t version = GetBE32(in);
  int32_t key_length = GetBE32(in + 4);
  int32_t status = NET_KEYEX_ACCEPTED;
  if (version != NET_CRYPT_VERSION) {
    status = NET_KEYEX_BAD_VERSION;
    net_log_verbose("Note:10333 key exchange: bad encryption version %d\n", version);
  } else if (key_length != c->key_length) {
    status = NET_KEYEX_BAD_KEY_LENGTH;
    net_log_verbose("Note:10334 key exchange: bad secret key length: %d\n", key_length);
  }
  char server_public[NET_KEYEX_TEXT_ROOM];
  if (!MakeKeyPair(c, NET_DH_GENERATOR, NET_DH_PRIME, server_public)) return NET_ERR_KEYEX_PEER;
  Keep(c->keyex_generator, NET_DH_GENERATOR);
  Keep(c->keyex_prime, NET_DH_PRIME);
  Keep(c->keyex_public, server_public);
  int32_t size = net_keyex_server_hello_size(NET_DH_GENERATOR, NET_DH_PRIME, server_public);
  if (net_buffer_room(&c->ewb) < size) return NET_ERR_KEYEX_ROOM;
  uint8_t hello[16 + 2 * NET_KEYEX_TEXT_ROOM];
  net_keyex_write_server_hello(hello, status, NET_DH_GENERATOR, NET_DH_PRIME, server_public);
  net_buffer_consume(&c->erb, nullptr, NET_CLIENT_HELLO_SIZE);
  net_buffer_append(&c->ewb, hello, size);
  c->keyex_state = 1;
  return 0;
}

int ServerTakeClientKey(net_conn* c) {
  net_keyex_text text{};
  int32_t bad_len = 0;
  int size = net_keyex_parse_client_key(net_buffer_peek(&c->erb), net_buffer_used(&c->erb), &text,
                                        &bad_len);
  if (size == NET_ERR_KEYEX_PEER)
    net_log_verbose("Note:10330 key exchange: bad client public key length: %d\n", bad_len);
  if (size <= 0) return size;
  char client_public[NET_KEYEX_TEXT_ROOM];
  if (!net_keyex_copy_number(text, client_public)) return NET_ERR_KEYEX_PEER;
  Keep(c->keyex_peer_public, client_public);
  if (!SetSharedKeys(c, client_public, NET_DH_PRIME)) return NET_ERR_KEYEX_PEER;
  net_buffer_consume(&c->erb, nullptr, size);
  c->keyex_state = NET_KEYEX_DONE;
  net_log_verbose("Note:10331 key exchange: encryption negotiation is done on fd %d\n", c->socket);
  // Encrypted connections meet the accept watchers only now, once usable.
  tcpcontext* ctx = c->context;
  net_acceptwatcher_fn watcher = c->accept_watcher;
  if (ctx != nullptr && c->hiwater_accept_watcher != nullptr && ctx->conn_in_use >= ctx->hiwater_mark)
    watcher = c->hiwater_accept_watcher;
  if (watcher != nullptr) {
    int rc = watcher(net_conn_handle(c));
    if (rc < 0) return rc;
  }
  return 0;
}

}  // namespace

int keyex_server_step(net_conn* c) {
  if (c->keyex_state == 0) return ServerAnswerHello(c);
  if (c->keyex_state == 1) return ServerTakeClientKey(c);
  return NET_ERR_TWICE;
}
