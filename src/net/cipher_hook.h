// Where record encryption plugs into the connection path.
//
// The encryption unit defines every function below. When it cannot run
// (net_cipher_available() false), a context asking for cipher flags is
// refused at creation with -26 and none of the others is ever reached.
#pragma once

struct net_conn;

bool net_cipher_available();

// Key exchange: the client hello is queued by keyex_start_client at connect;
// the I/O step then runs the side's step while the state is not 999.
// All return 0 (done or waiting for bytes) or a negative code.
int keyex_start_client(net_conn* c);
int keyex_client_step(net_conn* c);
int keyex_server_step(net_conn* c);

// Closes both directions' cipher handles, if set up, and marks them unset.
// Every release of a connection record calls it.
void net_conn_cipher_release(net_conn* c);

// Chunk coders chosen by the cipher flags; same contract as the plain ones.
int net_decode_blowfish(net_conn* c);
int net_encode_blowfish(net_conn* c);
int net_decode_rijndael(net_conn* c);
int net_encode_rijndael(net_conn* c);
