# Provides the imported target CURL::libcurl.
#
#   list(APPEND CMAKE_MODULE_PATH "${CMAKE_CURRENT_SOURCE_DIR}/cmake")
#   include(LauncherCurl)            # after project()
#   target_link_libraries(<target> PRIVATE CURL::libcurl)
#
# Windows (cross) build: the static, HTTP-only libcurl that
# tools/build-curl-mingw.sh installs into build/deps/curl-i686. FindCURL
# cannot be used there: the toolchain file searches libraries and headers
# only below CMAKE_FIND_ROOT_PATH (/usr/i686-w64-mingw32), so a prefix in the
# source tree is never found. The target carries CURL_STATICLIB and the
# system libraries the static library needs (ws2_32, advapi32). That libcurl
# is built so that it does not import bcrypt.dll; this module refuses a
# libcurl.a that references BCryptGenRandom.
#
# Where the prefix is looked for, first hit wins:
#   LAUNCHER_CURL_ROOT (cache variable), each entry of CMAKE_PREFIX_PATH
#   holding include/curl/curl.h and lib/libcurl.a, <repo>/build/deps/curl-i686.
# With LAUNCHER_CURL_AUTOBUILD (ON by default) the default prefix is built by
# running tools/build-curl-mingw.sh at configure time; that script returns at
# once when the prefix is current.
#
# Other builds (native, MSVC with vcpkg): plain find_package(CURL); check
# `if(TARGET CURL::libcurl)`.
include_guard(GLOBAL)

if(NOT MINGW)
  find_package(CURL QUIET)
  return()
endif()

set(LAUNCHER_CURL_ROOT "" CACHE PATH
  "Prefix of the static i686 libcurl (default: from CMAKE_PREFIX_PATH or build/deps/curl-i686)")
option(LAUNCHER_CURL_AUTOBUILD
  "Run tools/build-curl-mingw.sh at configure time for the default curl prefix" ON)

get_filename_component(_launcher_curl_repo "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(_launcher_curl_default "${_launcher_curl_repo}/build/deps/curl-i686")

set(_launcher_curl_root "${LAUNCHER_CURL_ROOT}")
if(NOT _launcher_curl_root)
  foreach(_p IN LISTS CMAKE_PREFIX_PATH)
    if(EXISTS "${_p}/include/curl/curl.h" AND EXISTS "${_p}/lib/libcurl.a")
      set(_launcher_curl_root "${_p}")
      break()
    endif()
  endforeach()
endif()
if(NOT _launcher_curl_root)
  set(_launcher_curl_root "${_launcher_curl_default}")
endif()
get_filename_component(_launcher_curl_root "${_launcher_curl_root}" ABSOLUTE)

if(LAUNCHER_CURL_AUTOBUILD AND _launcher_curl_root STREQUAL _launcher_curl_default)
  execute_process(
    COMMAND "${_launcher_curl_repo}/tools/build-curl-mingw.sh"
    RESULT_VARIABLE _launcher_curl_rc)
  if(NOT _launcher_curl_rc EQUAL 0)
    message(FATAL_ERROR "tools/build-curl-mingw.sh failed (${_launcher_curl_rc})")
  endif()
endif()

set(_launcher_curl_lib "${_launcher_curl_root}/lib/libcurl.a")
set(_launcher_curl_inc "${_launcher_curl_root}/include")
if(NOT EXISTS "${_launcher_curl_lib}" OR NOT EXISTS "${_launcher_curl_inc}/curl/curl.h")
  message(FATAL_ERROR
    "No static libcurl in ${_launcher_curl_root}; run tools/build-curl-mingw.sh "
    "or set LAUNCHER_CURL_ROOT.")
endif()

# A libcurl built for Vista or later calls BCryptGenRandom and so makes the
# program import bcrypt.dll, which Windows does not load from a protected place.
file(STRINGS "${_launcher_curl_lib}" _launcher_curl_bcrypt LIMIT_COUNT 1 REGEX "BCryptGenRandom")
if(_launcher_curl_bcrypt)
  message(FATAL_ERROR
    "${_launcher_curl_lib} references BCryptGenRandom (would import bcrypt.dll); "
    "build it with tools/build-curl-mingw.sh.")
endif()

file(STRINGS "${_launcher_curl_inc}/curl/curlver.h" _launcher_curl_ver
  REGEX "^#define LIBCURL_VERSION \"[^\"]*\"")
string(REGEX REPLACE ".*\"([^\"]*)\".*" "\\1" CURL_VERSION_STRING "${_launcher_curl_ver}")

if(NOT TARGET CURL::libcurl)
  add_library(CURL::libcurl STATIC IMPORTED GLOBAL)
  set_target_properties(CURL::libcurl PROPERTIES
    IMPORTED_LOCATION "${_launcher_curl_lib}"
    IMPORTED_LINK_INTERFACE_LANGUAGES C
    INTERFACE_INCLUDE_DIRECTORIES "${_launcher_curl_inc}"
    INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB
    INTERFACE_LINK_LIBRARIES "ws2_32;advapi32")
endif()

set(CURL_FOUND TRUE)
set(CURL_INCLUDE_DIRS "${_launcher_curl_inc}")
set(CURL_LIBRARIES CURL::libcurl)
message(STATUS "libcurl ${CURL_VERSION_STRING} (static, HTTP only): ${_launcher_curl_lib}")

unset(_launcher_curl_bcrypt)
unset(_launcher_curl_ver)
unset(_launcher_curl_rc)
unset(_launcher_curl_lib)
unset(_launcher_curl_inc)
unset(_launcher_curl_root)
unset(_launcher_curl_default)
unset(_launcher_curl_repo)
unset(_p)
