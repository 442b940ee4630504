# Record encryption of the middleware: Blowfish and Rijndael, the chunked
# stream and the Diffie-Hellman key exchange. The ciphers need nothing; the
# exchange takes its big numbers from libgcrypt, set up by wren_trust's
# InitGcrypt so that every user of the library in a process agrees.
target_sources(wren_net PRIVATE blowfish.cpp rijndael.cpp sha1.cpp crypt.cpp dh.cpp)
target_link_libraries(wren_net PUBLIC wren_platform wren_trust wren_gcrypt)
