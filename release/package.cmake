# Read by cpack as packaging starts. One release at a time in a build tree: the lock is cpack's until it ends, so a
# second release stops before it touches the first one's staging, password or zip. Nothing an earlier run left here
# survives into this one (a zip and its checksum, a password file or a staging directory left by an interrupted
# signing), and a release made without a certificate says so in its name. The names are compared, never globbed:
# the directory's own path may hold [ ] * or ?.
cmake_policy(VERSION 3.25)
file(LOCK "${CPACK_PACKAGE_DIRECTORY}" DIRECTORY GUARD PROCESS TIMEOUT 0 RESULT_VARIABLE locked)
if(NOT locked STREQUAL "0")
  message(FATAL_ERROR "Another release is running in this build tree, so nothing was packaged.")
endif()
execute_process(COMMAND ls -A "${CPACK_PACKAGE_DIRECTORY}" OUTPUT_VARIABLE names)
string(REPLACE "\n" ";" names "${names}")
foreach(name IN LISTS names)
  if(name MATCHES "^DesktopSwitch-")
    file(REMOVE_RECURSE "${CPACK_PACKAGE_DIRECTORY}/${name}")
  endif()
endforeach()
file(REMOVE_RECURSE "${CPACK_DESKTOPSWITCH_SIGNING_DIR}")
include(${CMAKE_CURRENT_LIST_DIR}/unstage.cmake)
if("$ENV{DESKTOPSWITCH_SIGN_PFX}" STREQUAL "")
  set(CPACK_PACKAGE_FILE_NAME DesktopSwitch-${CPACK_PACKAGE_VERSION}-win32-unsigned)
endif()
# Once the zip is made, and before CPack copies it beside the build, it must hold what it ships.
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/check_zip.cmake)
# CPack finds the files it stages with a glob over the staging path, so under such a path the zip would come out
# empty: stage in a private directory instead, recorded for unstage.cmake. It is made under /tmp, whose path holds
# none of those characters, where TMPDIR's may. The zip is made in the build tree, where nothing globs its path, and
# CPack copies it from there after the staging is gone.
if(CPACK_PACKAGE_DIRECTORY MATCHES "[][*?]")
  # However cpack ends, even killed, the directory goes with it: a watcher in a session of its own waits for cpack's
  # process to end, then removes it. The shell that makes the directory ignores Ctrl+C until the watcher holds it,
  # and the watcher goes without the test command's markers, since that command kills whatever carries them.
  file(READ /proc/self/stat cpack)  # cpack's own id comes first; a child's $PPID may already name another process
  string(REGEX MATCH "^[0-9]+" cpack "${cpack}")
  execute_process(COMMAND sh -c [[
      trap '' HUP INT TERM
      staging=$(mktemp -d /tmp/desktopswitch-release.XXXXXX) || exit
      env --default-signal -u DESKTOPSWITCH_RUN -u DESKTOPSWITCH_TABLE setsid \
        sh -c 'tail --pid="$1" -s 0.2 -f /dev/null; rm -rf -- "$2"' watcher "$1" "$staging" </dev/null >/dev/null 2>&1 &
      echo "$staging"]] stage "${cpack}"
    RESULT_VARIABLE failed OUTPUT_VARIABLE CPACK_TOPLEVEL_DIRECTORY ERROR_VARIABLE said
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
  if(NOT failed STREQUAL "0")
    message(FATAL_ERROR "The release could not make its staging directory in /tmp, so nothing was packaged: ${said}")
  endif()
  file(WRITE "${CPACK_DESKTOPSWITCH_STAGING_RECORD}" "${CPACK_TOPLEVEL_DIRECTORY}")
  set(CPACK_TEMPORARY_DIRECTORY ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME})
  set(CPACK_TEMPORARY_INSTALL_DIRECTORY ${CPACK_TEMPORARY_DIRECTORY})
  file(MAKE_DIRECTORY ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages)
  set(CPACK_TEMPORARY_PACKAGE_FILE_NAME ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/${CPACK_PACKAGE_FILE_NAME}.zip)
  list(APPEND CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/unstage.cmake)
endif()
