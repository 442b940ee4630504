// The publisher's public key that a starter may carry: a starter built with
// one accepts only publications that the publisher signed.
#pragma once

#include "trust/ed25519.h"

enum class EmbeddedKey {
  kNone,        // built without a key: runs as it always did
  kValid,       // *key holds it
  kUnreadable,  // a key resource that is not a public key: nothing may be trusted
};

EmbeddedKey LoadPublisherKey(ed25519::PublicKey* key);
