# libgcrypt, for the SHA-1 of the MusicBrainz disc ID, as the target
# qscan_gcrypt: Debian's libgcrypt20-dev for native builds,
# libgcrypt-mingw-w64-dev for the Windows programs (its static library, with
# libgpg-error's, so that they need no DLL but the system's).
set(QSCAN_GCRYPT_HINT "qscan-sheet needs libgcrypt: apt install libgcrypt20-dev (for the Windows build, libgcrypt-mingw-w64-dev)")
find_path(QSCAN_GCRYPT_INCLUDE gcrypt.h)
if(WIN32)
  find_library(QSCAN_GCRYPT_LIBRARY NAMES libgcrypt.a)
  find_library(QSCAN_GPG_ERROR_LIBRARY NAMES libgpg-error.a)
else()
  find_library(QSCAN_GCRYPT_LIBRARY NAMES gcrypt)
  find_library(QSCAN_GPG_ERROR_LIBRARY NAMES gpg-error)
endif()
if(NOT QSCAN_GCRYPT_INCLUDE OR NOT QSCAN_GCRYPT_LIBRARY OR NOT QSCAN_GPG_ERROR_LIBRARY)
  message(FATAL_ERROR "${QSCAN_GCRYPT_HINT}")
endif()
add_library(qscan_gcrypt INTERFACE)
target_include_directories(qscan_gcrypt SYSTEM INTERFACE "${QSCAN_GCRYPT_INCLUDE}")
target_link_libraries(qscan_gcrypt INTERFACE "${QSCAN_GCRYPT_LIBRARY}" "${QSCAN_GPG_ERROR_LIBRARY}")
if(WIN32)
  target_link_libraries(qscan_gcrypt INTERFACE ws2_32)
endif()
