# What the release format needs: libsodium, and the public key that a build
# may pin for the releases it accepts.

# libsodium: Debian's package on Linux; for the Windows targets the static
# library that scripts/setup builds from Debian's source package.
if(WIN32)
  set(UPDATER_SODIUM_ROOT "/opt/updater-sodium/${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32"
      CACHE PATH "Where scripts/setup installs libsodium for this target")
  if(NOT EXISTS "${UPDATER_SODIUM_ROOT}/lib/libsodium.a"
     OR NOT EXISTS "${UPDATER_SODIUM_ROOT}/include/sodium.h")
    message(FATAL_ERROR "libsodium for ${CMAKE_SYSTEM_PROCESSOR} is not in ${UPDATER_SODIUM_ROOT}: "
                        "run scripts/setup (as root), which builds it there")
  endif()
  add_library(sodium STATIC IMPORTED)
  set_target_properties(sodium PROPERTIES
    IMPORTED_LOCATION "${UPDATER_SODIUM_ROOT}/lib/libsodium.a"
    INTERFACE_INCLUDE_DIRECTORIES "${UPDATER_SODIUM_ROOT}/include"
    INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC
    # Random bytes come from the system (RtlGenRandom in advapi32).
    INTERFACE_LINK_LIBRARIES advapi32
    # The library holds LTO objects: linked with -flto, only the functions
    # that are called end up in the executable.
    INTERFACE_LINK_OPTIONS -flto)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SODIUM IMPORTED_TARGET libsodium)
  if(NOT SODIUM_FOUND)
    message(FATAL_ERROR "libsodium not found (Debian package libsodium-dev): run scripts/setup")
  endif()
  add_library(sodium INTERFACE)
  target_link_libraries(sodium INTERFACE PkgConfig::SODIUM)
endif()

# The pinned key: the base64 line of a minisign .pub file, that is 42 bytes
# ("Ed", an 8-byte key id, a 32-byte Ed25519 key) in 56 base64 digits, which
# therefore start with "RW". A value that is not such a key stops the
# configuration: it must never turn into a build that asks for no signature.
set(UPDATER_RELEASE_KEY "" CACHE STRING
    "Public key (the base64 line of a minisign .pub file) that releases must be signed with; empty: releases are not signed")
if(NOT UPDATER_RELEASE_KEY STREQUAL "")
  string(LENGTH "${UPDATER_RELEASE_KEY}" key_length)
  if(NOT key_length EQUAL 56 OR NOT UPDATER_RELEASE_KEY MATCHES "^RW[QRST][A-Za-z0-9+/]+$")
    message(FATAL_ERROR
      "UPDATER_RELEASE_KEY is not a minisign public key: expected the 56-character base64 line "
      "of a .pub file (it starts with \"RW\"), without its comment line; got "
      "\"${UPDATER_RELEASE_KEY}\" (${key_length} characters)")
  endif()
  message(STATUS "Releases must be signed with the key ${UPDATER_RELEASE_KEY}")
endif()
