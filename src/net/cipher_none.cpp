// Stand-in for the encryption unit in builds that do not have it: no cipher
// is available, so no connection ever reaches these coders.
#include "net/cipher_hook.h"

#include "net/core.h"
#include "net/state.h"

bool net_cipher_available() { return false; }

int keyex_start_client(net_conn*) { return net_fail(NET_ERR_BAD_PREFIX); }
int keyex_client_step(net_conn*) { return net_fail(NET_ERR_BAD_PREFIX); }
int keyex_server_step(net_conn*) { return net_fail(NET_ERR_BAD_PREFIX); }
int net_decode_blowfish(net_conn*) { return net_fail(NET_ERR_BAD_PREFIX); }
int net_encode_blowfish(net_conn*) { return net_fail(NET_ERR_BAD_PREFIX); }
int net_decode_rijndael(net_conn*) { return net_fail(NET_ERR_BAD_PREFIX); }
int net_encode_rijndael(net_conn*) { return net_fail(NET_ERR_BAD_PREFIX); }
