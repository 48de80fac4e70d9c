# What patches and compressed copies need: zstd (the updater decompresses, the
# publisher's tool also compresses) and libdivsufsort (the tool alone).
#
# On Linux, Debian's packages (zstd linked statically, as libsodium is); for
# the Windows targets the static libraries that scripts/setup builds from
# Debian's source packages into /opt.
if(WIN32)
  set(triplet "${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32")
  set(UPDATER_ZSTD_ROOT "/opt/updater-zstd/${triplet}"
      CACHE PATH "Where scripts/setup installs zstd for this target")
  set(UPDATER_DIVSUFSORT_ROOT "/opt/updater-divsufsort/${triplet}"
      CACHE PATH "Where scripts/setup installs libdivsufsort for this target")
  foreach(file "${UPDATER_ZSTD_ROOT}/lib/libzstd.a" "${UPDATER_ZSTD_ROOT}/include/zstd.h"
               "${UPDATER_DIVSUFSORT_ROOT}/lib/libdivsufsort.a"
               "${UPDATER_DIVSUFSORT_ROOT}/lib/libdivsufsort64.a")
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "${file} is missing: run scripts/setup (as root), which builds it")
    endif()
  endforeach()
  add_library(zstd STATIC IMPORTED)
  set_target_properties(zstd PROPERTIES
    IMPORTED_LOCATION "${UPDATER_ZSTD_ROOT}/lib/libzstd.a"
    INTERFACE_INCLUDE_DIRECTORIES "${UPDATER_ZSTD_ROOT}/include"
    # LTO objects, as libsodium's: a program keeps only what it calls (the
    # updater the decoder alone).
    INTERFACE_LINK_OPTIONS "-flto;-flto-partition=one")
  add_library(divsufsort INTERFACE)
  target_include_directories(divsufsort INTERFACE "${UPDATER_DIVSUFSORT_ROOT}/include")
  target_link_libraries(divsufsort INTERFACE "${UPDATER_DIVSUFSORT_ROOT}/lib/libdivsufsort.a"
                                             "${UPDATER_DIVSUFSORT_ROOT}/lib/libdivsufsort64.a")
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(ZSTD libzstd)
  if(NOT ZSTD_FOUND)
    message(FATAL_ERROR "zstd not found (Debian package libzstd-dev): run scripts/setup")
  endif()
  find_library(ZSTD_STATIC NAMES libzstd.a HINTS ${ZSTD_LIBRARY_DIRS} REQUIRED)
  add_library(zstd STATIC IMPORTED)
  set_target_properties(zstd PROPERTIES
    IMPORTED_LOCATION "${ZSTD_STATIC}"
    INTERFACE_INCLUDE_DIRECTORIES "${ZSTD_INCLUDE_DIRS}")
  # Debian ships libdivsufsort as a shared library only.
  pkg_check_modules(DIVSUFSORT IMPORTED_TARGET libdivsufsort libdivsufsort64)
  if(NOT DIVSUFSORT_FOUND)
    message(FATAL_ERROR
      "libdivsufsort not found (Debian package libdivsufsort-dev): run scripts/setup")
  endif()
  add_library(divsufsort INTERFACE)
  target_link_libraries(divsufsort INTERFACE PkgConfig::DIVSUFSORT)
endif()
