# Run by cpack once the zip is made, before it is copied beside the build: a release never reports success without
# the program in its zip. The zip must hold the program, the guide and SHA256SUMS, and nothing else; otherwise it is
# removed, so that cpack has nothing to publish, and the release stops with the names it held.
cmake_policy(VERSION 3.25)
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar tf "${CPACK_PACKAGE_FILES}" RESULT_VARIABLE unlisted
                OUTPUT_VARIABLE names ERROR_QUIET)
string(REPLACE "\n" ";" names "${names}")
list(REMOVE_ITEM names "")
list(SORT names)
if(NOT unlisted STREQUAL "0" OR NOT names STREQUAL "DesktopSwitch.exe;README.txt;SHA256SUMS")
  file(REMOVE "${CPACK_PACKAGE_FILES}")
  include(${CMAKE_CURRENT_LIST_DIR}/unstage.cmake)
  message(FATAL_ERROR "The zip does not hold DesktopSwitch.exe, README.txt and SHA256SUMS, so nothing was packaged. "
                      "It held: ${names}")
endif()
