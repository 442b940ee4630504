# libgcrypt, for the middleware's key exchange and for publisher signatures:
# one INTERFACE target, wren_gcrypt, that both link. The Windows build links
# it statically (with libgpg-error, which needs Winsock) so that each exe
# stands alone; the native build uses the shared libraries.
if(TARGET wren_gcrypt)
  return()
endif()
if(WREN_WINDOWS)
  find_library(WREN_GCRYPT_LIBRARY NAMES libgcrypt.a REQUIRED)
  find_library(WREN_GPG_ERROR_LIBRARY NAMES libgpg-error.a REQUIRED)
  set(wren_gpg_error_needs ws2_32)
else()
  find_library(WREN_GCRYPT_LIBRARY NAMES gcrypt REQUIRED)
  find_library(WREN_GPG_ERROR_LIBRARY NAMES gpg-error REQUIRED)
  set(wren_gpg_error_needs)
endif()
find_path(WREN_GCRYPT_INCLUDE_DIR gcrypt.h REQUIRED)
add_library(wren_gcrypt INTERFACE)
target_include_directories(wren_gcrypt INTERFACE ${WREN_GCRYPT_INCLUDE_DIR})
target_link_libraries(wren_gcrypt INTERFACE ${WREN_GCRYPT_LIBRARY} ${WREN_GPG_ERROR_LIBRARY} ${wren_gpg_error_needs})
