# Removes the private staging directory that package.cmake made outside the build tree once nothing needs it: after
# the zip is made (as a post-build script), when signing or the zip is refused, and after an interrupted run, at the
# next one.
if(EXISTS "${CPACK_DESKTOPSWITCH_STAGING_RECORD}")
  file(READ "${CPACK_DESKTOPSWITCH_STAGING_RECORD}" staging)
  file(REMOVE_RECURSE "${staging}" "${CPACK_DESKTOPSWITCH_STAGING_RECORD}")
endif()
