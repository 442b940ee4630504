# Record encryption of the middleware: Blowfish and Rijndael (AES-128) on
# the chunked stream, and the Diffie-Hellman key exchange with its SHA-1
# exponents. The ciphers, the hash and the big numbers all come from
# libgcrypt, set up by wren_trust's InitGcrypt so that every user of the
# library in a process agrees.
target_sources(wren_net PRIVATE crypt.cpp dh.cpp)
target_link_libraries(wren_net PUBLIC wren_platform wren_trust wren_gcrypt)
