// The text of the publisher's key files: one line each,
//   wren-ed25519-public <64 hexadecimal digits of the key>
//   wren-ed25519-private <64 hexadecimal digits of the seed>
// written in lower case with a final LF.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "trust/ed25519.h"

std::string FormatPublicKey(const ed25519::PublicKey& key);
std::string FormatPrivateKey(const ed25519::Seed& seed);

// Parsing takes what editors make of the line too: digits in either case,
// a leading UTF-8 byte order mark, trailing spaces, tabs, CR and LF. Anything
// else is nothing, including the other kind of key.
std::optional<ed25519::PublicKey> ParsePublicKey(std::string_view text);
std::optional<ed25519::Seed> ParsePrivateKey(std::string_view text);
