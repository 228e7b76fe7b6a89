# Runs as the release is packaged, on the files as they will ship. With DESKTOPSWITCH_SIGN_PFX (a PKCS#12 file; a
# relative path is taken from the source directory, where the workflow runs) and its DESKTOPSWITCH_SIGN_PASSWORD,
# if it has one, it signs DesktopSwitch.exe with Authenticode, time-stamped by the RFC 3161 server at
# DESKTOPSWITCH_SIGN_TIMESTAMP_URL when one is given. It writes the technician's guide, naming the signer
# or saying that the release is unsigned, and SHA256SUMS over the program. Any failure stops the release with its
# reason: nothing half-signed, or signed with a certificate Windows would not accept, is packaged.
set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(secret "${DESKTOPSWITCH_SIGNING_DIR}")

# Stops the release with WHY and what a tool said, removing the password first.
function(refuse why said)
  file(REMOVE_RECURSE "${secret}")
  message(FATAL_ERROR "Signing DesktopSwitch.exe failed, so nothing was packaged: ${why}\n${said}")
endfunction()
# Runs a signing step, refused with WHY when it fails; what it said is left in `said`.
function(signing_step why)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE said ERROR_VARIABLE said)
  if(failed)
    refuse("${why}" "${said}")
  endif()
  set(said "${said}" PARENT_SCOPE)
endfunction()

if("$ENV{DESKTOPSWITCH_SIGN_PFX}" STREQUAL "")
  message(WARNING "DesktopSwitch.exe is unsigned: set DESKTOPSWITCH_SIGN_PFX and DESKTOPSWITCH_SIGN_PASSWORD to sign it.")
  set(DESKTOPSWITCH_SIGNATURE "This release is UNSIGNED: DesktopSwitch.exe has no Digital Signatures tab.
   Run it only if the zip's checksum matched the published one in step 1.")
else()
  find_program(OPENSSL openssl REQUIRED)
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  set(pfx "$ENV{DESKTOPSWITCH_SIGN_PFX}")
  cmake_path(ABSOLUTE_PATH pfx BASE_DIRECTORY "${DESKTOPSWITCH_SOURCE_DIR}")
  file(MAKE_DIRECTORY "${secret}")
  file(CHMOD "${secret}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  # A password goes through a file only its owner can read, never on a command line. Without one, openssl is
  # given the empty one, which its file: source refuses to read.
  set(passin pass:)
  set(readpass)
  if(NOT "$ENV{DESKTOPSWITCH_SIGN_PASSWORD}" STREQUAL "")
    file(WRITE "${secret}/password" "$ENV{DESKTOPSWITCH_SIGN_PASSWORD}")
    file(CHMOD "${secret}/password" PERMISSIONS OWNER_READ OWNER_WRITE)
    set(passin "file:${secret}/password")
    set(readpass -readpass "${secret}/password")
  endif()
  signing_step("the certificate could not be read." "${OPENSSL}" pkcs12 -in "${pfx}" -passin "${passin}" -nokeys
    -clcerts -out "${secret}/certificate.pem")
  signing_step("the certificate could not be read." "${OPENSSL}" x509 -in "${secret}/certificate.pem" -noout
    -startdate -enddate -dateopt iso_8601)
  string(TIMESTAMP now "%Y-%m-%d %H:%M:%SZ" UTC)  # the form of the dates above, so they compare as text
  string(REGEX MATCH "notBefore=([^\n]*)" valid "${said}")
  if(CMAKE_MATCH_1 STRGREATER now)
    refuse("the certificate is not valid yet." "${said}")
  endif()
  string(REGEX MATCH "notAfter=([^\n]*)" valid "${said}")
  if(NOT CMAKE_MATCH_1 STRGREATER now)
    refuse("the certificate has expired." "${said}")
  endif()
  # The extended key usage alone decides, not a name that says so: when present, it must allow code signing.
  signing_step("the certificate could not be read." "${OPENSSL}" x509 -in "${secret}/certificate.pem" -noout
    -ext extendedKeyUsage)
  if(said MATCHES "Extended Key Usage" AND NOT said MATCHES "Code Signing")
    refuse("the certificate is not for code signing." "${said}")
  endif()
  signing_step("the certificate could not be read." "${OPENSSL}" x509 -in "${secret}/certificate.pem" -noout
    -nameopt multiline,utf8,-esc_msb -subject)
  # The name Windows shows for a signer: the first of these in the certificate's subject.
  foreach(attribute commonName organizationalUnitName organizationName emailAddress)
    if(said MATCHES "\n +${attribute} += ([^\n]*)")
      set(signer "${CMAKE_MATCH_1}")
      break()
    endif()
  endforeach()
  if(NOT signer)
    refuse("the certificate names no signer." "${said}")
  endif()
  set(timestamp)
  if(NOT "$ENV{DESKTOPSWITCH_SIGN_TIMESTAMP_URL}" STREQUAL "")
    set(timestamp -ts "$ENV{DESKTOPSWITCH_SIGN_TIMESTAMP_URL}")
  endif()
  signing_step("osslsigncode refused." "${OSSLSIGNCODE}" sign -pkcs12 "${pfx}" ${readpass} -h sha256 -n DesktopSwitch
    ${timestamp} -in "${dir}/DesktopSwitch.exe" -out "${secret}/DesktopSwitch.exe")
  file(RENAME "${secret}/DesktopSwitch.exe" "${dir}/DesktopSwitch.exe")
  file(REMOVE_RECURSE "${secret}")
  message(STATUS "DesktopSwitch.exe is signed by ${signer}.")
  set(DESKTOPSWITCH_SIGNATURE "This release is signed. Right-click DesktopSwitch.exe, Properties, Digital
   Signatures: the list must show exactly one signer, named
       ${signer}
   and Details must say \"This digital signature is OK\".")
endif()
string(REPLACE "\n" "\r\n" DESKTOPSWITCH_SIGNATURE "${DESKTOPSWITCH_SIGNATURE}")  # configure_file leaves it as is
configure_file("${DESKTOPSWITCH_SOURCE_DIR}/release/README.txt" "${dir}/README.txt" @ONLY NEWLINE_STYLE CRLF)
file(SHA256 "${dir}/DesktopSwitch.exe" sum)
file(WRITE "${dir}/SHA256SUMS" "${sum}  DesktopSwitch.exe\n")
