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
  execute_process(COMMAND mktemp -d /tmp/desktopswitch-release.XXXXXX OUTPUT_VARIABLE CPACK_TOPLEVEL_DIRECTORY
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  file(WRITE "${CPACK_DESKTOPSWITCH_STAGING_RECORD}" "${CPACK_TOPLEVEL_DIRECTORY}")
  set(CPACK_TEMPORARY_DIRECTORY ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME})
  set(CPACK_TEMPORARY_INSTALL_DIRECTORY ${CPACK_TEMPORARY_DIRECTORY})
  file(MAKE_DIRECTORY ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages)
  set(CPACK_TEMPORARY_PACKAGE_FILE_NAME ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/${CPACK_PACKAGE_FILE_NAME}.zip)
  list(APPEND CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/unstage.cmake)
endif()
