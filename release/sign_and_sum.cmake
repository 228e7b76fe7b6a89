# Runs as the release is packaged, on the files as they will ship: signs DesktopSwitch.exe with
# Authenticode when DESKTOPSWITCH_SIGN_PFX (a PKCS#12 file) and DESKTOPSWITCH_SIGN_PASSWORD are given,
# then writes SHA256SUMS over it. A failed signature stops the release: nothing half-signed is packaged.
set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(exe "${dir}/DesktopSwitch.exe")
if("$ENV{DESKTOPSWITCH_SIGN_PFX}" STREQUAL "")
  message(WARNING "DesktopSwitch.exe is unsigned: set DESKTOPSWITCH_SIGN_PFX and DESKTOPSWITCH_SIGN_PASSWORD to sign it.")
else()
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  # The password goes through a file only its owner can read, never on a command line.
  set(secret "${DESKTOPSWITCH_SIGNING_DIR}")
  file(REMOVE_RECURSE "${secret}")
  file(MAKE_DIRECTORY "${secret}")
  file(CHMOD "${secret}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  file(WRITE "${secret}/password" "$ENV{DESKTOPSWITCH_SIGN_PASSWORD}")
  execute_process(
    COMMAND "${OSSLSIGNCODE}" sign -pkcs12 "$ENV{DESKTOPSWITCH_SIGN_PFX}" -readpass "${secret}/password" -h sha256
            -n DesktopSwitch -in "${exe}" -out "${secret}/DesktopSwitch.exe"
    RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT failed)
    file(RENAME "${secret}/DesktopSwitch.exe" "${exe}")
  endif()
  file(REMOVE_RECURSE "${secret}")
  if(failed)
    message(FATAL_ERROR "Signing DesktopSwitch.exe failed, so nothing was packaged. osslsigncode said:\n${output}")
  endif()
  message(STATUS "DesktopSwitch.exe is signed.")
endif()
file(SHA256 "${exe}" sum)
file(WRITE "${dir}/SHA256SUMS" "${sum}  DesktopSwitch.exe\n")
