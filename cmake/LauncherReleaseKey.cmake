# LAUNCHER_RELEASE_KEY: the operator's public key (PEM, as
# `openssl pkey -pubout` writes it). Its point becomes two constants of the
# launcher; empty builds a launcher that checks no signature.
set(LAUNCHER_RELEASE_KEY "" CACHE FILEPATH
    "PEM public key (P-256) that every release must be signed with; empty: releases are not checked")

# launcher_p256_public_key(PEM X_VAR Y_VAR): the key's coordinates as C
# initializers ("0x12,0x34,..."); stops the configure step with a clear
# message when PEM is not a P-256 public key.
function(launcher_p256_public_key pem x_var y_var)
  # DER SubjectPublicKeyInfo of a P-256 key up to the uncompressed point's 0x04.
  set(spki_prefix "3059301306072a8648ce3d020106082a8648ce3d03010703420004")
  set(problem "'${pem}' is not a P-256 public key in PEM (make one with: openssl pkey -in release.key -pubout -out release.pub)")
  if(NOT EXISTS "${pem}")
    message(FATAL_ERROR "${problem}: no such file")
  endif()
  find_program(LAUNCHER_OPENSSL openssl)
  if(NOT LAUNCHER_OPENSSL)
    message(FATAL_ERROR "reading '${pem}' needs the openssl command-line tool")
  endif()
  string(SHA256 der_name "${pem}")
  set(der "${CMAKE_BINARY_DIR}/${der_name}.der")
  execute_process(COMMAND "${LAUNCHER_OPENSSL}" pkey -pubin -in "${pem}" -outform DER -out "${der}"
                  RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${problem}")
  endif()
  file(READ "${der}" key_hex HEX)
  file(REMOVE "${der}")
  string(LENGTH "${spki_prefix}" prefix_length)
  string(LENGTH "${key_hex}" key_length)
  math(EXPR expected_length "${prefix_length} + 128")
  if(NOT key_length EQUAL expected_length)
    message(FATAL_ERROR "${problem}")
  endif()
  string(SUBSTRING "${key_hex}" 0 ${prefix_length} key_prefix)
  if(NOT key_prefix STREQUAL spki_prefix)
    message(FATAL_ERROR "${problem}")
  endif()
  string(SUBSTRING "${key_hex}" ${prefix_length} 64 x_hex)
  math(EXPR y_start "${prefix_length} + 64")
  string(SUBSTRING "${key_hex}" ${y_start} 64 y_hex)
  string(REGEX REPLACE "(..)" "0x\\1," x "${x_hex}")
  string(REGEX REPLACE "(..)" "0x\\1," y "${y_hex}")
  set(${x_var} "${x}" PARENT_SCOPE)
  set(${y_var} "${y}" PARENT_SCOPE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${pem}")
endfunction()

set(LAUNCHER_RELEASE_KEY_SET false)
set(LAUNCHER_RELEASE_KEY_X 0)
set(LAUNCHER_RELEASE_KEY_Y 0)
if(LAUNCHER_RELEASE_KEY)
  launcher_p256_public_key("${LAUNCHER_RELEASE_KEY}" LAUNCHER_RELEASE_KEY_X LAUNCHER_RELEASE_KEY_Y)
  set(LAUNCHER_RELEASE_KEY_SET true)
  message(STATUS "Release key: ${LAUNCHER_RELEASE_KEY} (every update is checked against it)")
endif()
