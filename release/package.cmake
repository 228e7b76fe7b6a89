# Read by cpack as packaging starts. Nothing an earlier run left here survives into this one (a zip and its
# checksum, or a password file left by an interrupted signing), and a release made without a certificate says so
# in its name.
file(GLOB stale "${CPACK_PACKAGE_DIRECTORY}/DesktopSwitch-*")
file(REMOVE_RECURSE ${stale} "${CPACK_DESKTOPSWITCH_SIGNING_DIR}")
if("$ENV{DESKTOPSWITCH_SIGN_PFX}" STREQUAL "")
  set(CPACK_PACKAGE_FILE_NAME DesktopSwitch-${CPACK_PACKAGE_VERSION}-win32-unsigned)
endif()
