# Removes the private staging directory that package.cmake made outside the build tree once nothing needs it: after
# the zip is made (as a post-build script) and when signing or the zip is refused. However else cpack ends, the
# watcher package.cmake started removes the directory; the next run removes the record, and the directory if that
# watcher could not.
if(EXISTS "${CPACK_DESKTOPSWITCH_STAGING_RECORD}")
  file(READ "${CPACK_DESKTOPSWITCH_STAGING_RECORD}" staging)
  # rm, untroubled by the watcher removing the same directory at the same moment.
  execute_process(COMMAND rm -rf -- "${staging}")
  file(REMOVE "${CPACK_DESKTOPSWITCH_STAGING_RECORD}")
endif()
