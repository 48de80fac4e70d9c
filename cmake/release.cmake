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
    # that are called end up in the executable. Its few functions make one
    # partition, and its visibility attributes, which PE files do not have,
    # are no news at every link.
    INTERFACE_LINK_OPTIONS "-flto;-flto-partition=one;-Wno-attributes")
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SODIUM IMPORTED_TARGET libsodium)
  if(NOT SODIUM_FOUND)
    message(FATAL_ERROR "libsodium not found (Debian package libsodium-dev): run scripts/setup")
  endif()
  # Linked statically, as on Windows: only the functions the program calls
  # are taken in, and no shared library is loaded and relocated at start-up.
  find_library(SODIUM_STATIC NAMES libsodium.a HINTS ${SODIUM_LIBRARY_DIRS} REQUIRED)
  add_library(sodium STATIC IMPORTED)
  set_target_properties(sodium PROPERTIES
    IMPORTED_LOCATION "${SODIUM_STATIC}"
    INTERFACE_INCLUDE_DIRECTORIES "${SODIUM_INCLUDE_DIRS}"
    INTERFACE_LINK_LIBRARIES Threads::Threads)
  find_package(Threads REQUIRED)
endif()

# The pinned key (checked in release_key.cmake).
set(UPDATER_RELEASE_KEY "" CACHE STRING
    "Public key (the base64 line of a minisign .pub file) that releases must be signed with; empty: releases are not signed")
include(${CMAKE_CURRENT_LIST_DIR}/release_key.cmake)
