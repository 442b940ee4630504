# Record encryption of the middleware: Blowfish and Rijndael, the chunked
# stream and the Diffie-Hellman key exchange. The ciphers need nothing; the
# exchange needs libcrypto's big numbers. A build without libcrypto (the
# cross build, unless one is installed for mingw-w64) keeps the ciphers but
# refuses contexts with cipher flags.
target_sources(wren_net PRIVATE blowfish.cpp rijndael.cpp sha1.cpp crypt.cpp dh.cpp)
target_link_libraries(wren_net PUBLIC wren_platform)
if(WREN_WINDOWS)
  find_package(OpenSSL QUIET COMPONENTS Crypto)
else()
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
endif()
if(OpenSSL_FOUND)
  target_compile_definitions(wren_net PRIVATE WREN_HAVE_LIBCRYPTO=1)
  target_link_libraries(wren_net PUBLIC OpenSSL::Crypto)
else()
  message(STATUS "libcrypto not found for this target: encrypted contexts are refused")
endif()
