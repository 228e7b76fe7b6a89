# Read by cpack as packaging starts. Nothing an earlier run left here survives into this one (a zip and its
# checksum, or a password file left by an interrupted signing), and a release made without a certificate says so
# in its name. The names are compared, never globbed: the directory's own path may hold [ ] * or ?.
execute_process(COMMAND ls -A "${CPACK_PACKAGE_DIRECTORY}" OUTPUT_VARIABLE names)
string(REPLACE "\n" ";" names "${names}")
foreach(name IN LISTS names)
  if(name MATCHES "^DesktopSwitch-")
    file(REMOVE_RECURSE "${CPACK_PACKAGE_DIRECTORY}/${name}")
  endif()
endforeach()
file(REMOVE_RECURSE "${CPACK_DESKTOPSWITCH_SIGNING_DIR}")
if("$ENV{DESKTOPSWITCH_SIGN_PFX}" STREQUAL "")
  set(CPACK_PACKAGE_FILE_NAME DesktopSwitch-${CPACK_PACKAGE_VERSION}-win32-unsigned)
endif()
# CPack finds the files it stages with a glob over the staging path, so under such a path the zip would come out
# empty: stage in a fresh private directory instead. CPack reads it until it ends, so the next run removes it.
set(staged "${CPACK_PACKAGE_DIRECTORY}/staged-elsewhere")
if(EXISTS "${staged}")
  file(READ "${staged}" previous)
  file(REMOVE_RECURSE "${previous}" "${staged}")
endif()
if(CPACK_PACKAGE_DIRECTORY MATCHES "[][*?]")
  execute_process(COMMAND mktemp -d OUTPUT_VARIABLE CPACK_TOPLEVEL_DIRECTORY OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  file(WRITE "${staged}" "${CPACK_TOPLEVEL_DIRECTORY}")
  set(CPACK_TEMPORARY_DIRECTORY ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME})
  set(CPACK_TEMPORARY_INSTALL_DIRECTORY ${CPACK_TEMPORARY_DIRECTORY})
  set(CPACK_TEMPORARY_PACKAGE_FILE_NAME ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip)
endif()
