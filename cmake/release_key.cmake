# Checks UPDATER_RELEASE_KEY, the public key a build pins: the base64 line of a
# minisign .pub file, that is 42 bytes ("Ed", an 8-byte key id, a 32-byte
# Ed25519 key) in 56 base64 digits, which therefore start with "RW". A value
# that is not such a key stops the configuration: it must never turn into a
# build that asks for no signature. Also runs as a script (cmake -P) for the tests.
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
