# Record encryption of the middleware: Blowfish and Rijndael, the chunked
# stream and the Diffie-Hellman key exchange. The ciphers need nothing; the
# exchange takes its big numbers from libgcrypt, which the Windows build links
# statically (with libgpg-error) so that each exe stands alone.
target_sources(wren_net PRIVATE blowfish.cpp rijndael.cpp sha1.cpp crypt.cpp dh.cpp)
target_link_libraries(wren_net PUBLIC wren_platform)
if(WREN_WINDOWS)
  find_library(WREN_GCRYPT_LIBRARY NAMES libgcrypt.a REQUIRED)
  find_library(WREN_GPG_ERROR_LIBRARY NAMES libgpg-error.a REQUIRED)
  set(gpg_error_needs ws2_32)
else()
  find_library(WREN_GCRYPT_LIBRARY NAMES gcrypt REQUIRED)
  find_library(WREN_GPG_ERROR_LIBRARY NAMES gpg-error REQUIRED)
  set(gpg_error_needs)
endif()
find_path(WREN_GCRYPT_INCLUDE_DIR gcrypt.h REQUIRED)
target_include_directories(wren_net PUBLIC ${WREN_GCRYPT_INCLUDE_DIR})
target_link_libraries(wren_net PUBLIC ${WREN_GCRYPT_LIBRARY} ${WREN_GPG_ERROR_LIBRARY} ${gpg_error_needs})
