# Run by scripts/release.sh (cmake -P) on the files as they will ship, in STAGED. With DESKTOPSWITCH_SIGN_PFX (a
# PKCS#12 file; a relative path is taken from the sources') and its DESKTOPSWITCH_SIGN_PASSWORD, if it has one, it
# signs DesktopSwitch.exe with Authenticode, time-stamped by the RFC 3161 server at DESKTOPSWITCH_SIGN_TIMESTAMP_URL
# when one is given. It writes the technician's guide for PROJECT_VERSION, naming the signer or saying that the
# release is unsigned. Any failure stops the release with its reason: nothing half-signed, or signed with a
# certificate Windows would not accept, ships: a refusal's reason goes in SECRET/refusal, for the release to say.
# What signing keeps secret goes in SECRET, in the release's own folder, which only its owner can read and which goes
# however the release ends.
cmake_policy(VERSION 3.25)  # text compares as text: a quoted argument is never taken for a variable's name
get_filename_component(sources "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

# Stops the release with WHY, on one line, and what a tool said.
function(refuse why said)
  file(WRITE "${SECRET}/refusal" "Signing DesktopSwitch.exe failed, so nothing was packaged: ${why}\n${said}\n")
  message(FATAL_ERROR "${why}")
endfunction()
# Runs a signing step, refused with WHY when it fails or has not ended after 300 s (a time-stamp server that takes
# the request and never answers would hold the release for good); what it said is left in `said`.
function(signing_step why)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE said ERROR_VARIABLE said TIMEOUT 300)
  if(NOT failed STREQUAL "0")
    refuse("${why}" "${said}")
  endif()
  set(said "${said}" PARENT_SCOPE)
endfunction()
# The items of the list that follows a heading of openssl's extension text, such as "X509v3 Key Usage";
# unset when the certificate has no such extension.
function(usages heading text)
  unset(items PARENT_SCOPE)
  if(text MATCHES "${heading}:[^\n]*\n *([^\n]*)")
    string(REPLACE ", " ";" items "${CMAKE_MATCH_1}")
    set(items "${items}" PARENT_SCOPE)
  endif()
endfunction()

if("$ENV{DESKTOPSWITCH_SIGN_PFX}" STREQUAL "")
  message(NOTICE
    "DesktopSwitch.exe is unsigned: set DESKTOPSWITCH_SIGN_PFX and DESKTOPSWITCH_SIGN_PASSWORD to sign it.")
  set(DESKTOPSWITCH_SIGNATURE "This release is UNSIGNED: DesktopSwitch.exe has no Digital Signatures tab.
   Run it only if the zip's checksum matched the published one in step 1.")
else()
  find_program(OPENSSL openssl REQUIRED)
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  set(pfx "$ENV{DESKTOPSWITCH_SIGN_PFX}")
  cmake_path(ABSOLUTE_PATH pfx BASE_DIRECTORY "${sources}")
  # openssl would wait for ever on a FIFO, and take a directory or a device for a broken certificate.
  execute_process(COMMAND test -f "${pfx}" RESULT_VARIABLE not_a_file)
  if(NOT not_a_file STREQUAL "0")
    refuse("DESKTOPSWITCH_SIGN_PFX is not a regular file." "${pfx}")
  endif()
  # The tools read a copy with a name of the release's own: any path Linux allows reaches them whole, ";" and line
  # ends included, which a CMake list would split.
  file(COPY_FILE "${pfx}" "${SECRET}/signer.pfx" RESULT copied)
  if(NOT copied STREQUAL "0")
    refuse("DESKTOPSWITCH_SIGN_PFX could not be read." "${copied}")
  endif()
  set(pkcs12 "${SECRET}/signer.pfx")
  # A password goes through a file only its owner can read, never on a command line. Without one, openssl is
  # given the empty one, which its file: source refuses to read.
  set(passin pass:)
  set(readpass)
  if(NOT "$ENV{DESKTOPSWITCH_SIGN_PASSWORD}" STREQUAL "")
    file(WRITE "${SECRET}/password" "$ENV{DESKTOPSWITCH_SIGN_PASSWORD}")
    file(CHMOD "${SECRET}/password" PERMISSIONS OWNER_READ OWNER_WRITE)
    set(passin "file:${SECRET}/password")
    set(readpass -readpass "${SECRET}/password")
  endif()
  # Every certificate the PKCS#12 file holds goes into the signature, as its chain: each must be valid now and,
  # for RSA, at least 2048 bits long (NIST SP 800-131A disallows shorter keys for signatures).
  set(pem "-----BEGIN CERTIFICATE-----[^-]+-----END CERTIFICATE-----")
  # The signing certificate is the first whose public key is the private key's, as osslsigncode takes it, wherever
  # it stands in the file. The private key only passes through a pipe.
  execute_process(COMMAND "${OPENSSL}" pkcs12 -in "${pkcs12}" -passin "${passin}" -nocerts -nodes
                  COMMAND "${OPENSSL}" pkey -pubout
                  RESULTS_VARIABLE failures OUTPUT_VARIABLE public_key ERROR_VARIABLE said)
  if(NOT failures STREQUAL "0;0" OR public_key STREQUAL "")
    refuse("the certificate's private key could not be read." "${said}")
  endif()
  signing_step("the certificate could not be read." "${OPENSSL}" pkcs12 -in "${pkcs12}" -passin "${passin}" -nokeys
    -out "${SECRET}/chain.pem")
  file(READ "${SECRET}/chain.pem" chain)
  string(REGEX MATCHALL "${pem}" chain "${chain}")
  # The clock's time, in the form of the dates below, so that they compare as text. Never SOURCE_DATE_EPOCH, which
  # string(TIMESTAMP) would take: that dates what the release embeds, and says nothing of when it is signed.
  execute_process(COMMAND date -u "+%Y-%m-%d %H:%M:%SZ" OUTPUT_VARIABLE now OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(signing_certificate "")
  foreach(certificate IN LISTS chain)
    file(WRITE "${SECRET}/each.pem" "${certificate}\n")
    signing_step("the certificate could not be read." "${OPENSSL}" x509 -in "${SECRET}/each.pem" -noout -subject
      -startdate -enddate -dateopt iso_8601 -pubkey -text
      -certopt no_header,no_version,no_serial,no_signame,no_validity,no_subject,no_issuer,no_sigdump,no_aux
      -certopt no_extensions)
    string(REGEX MATCH "^[^\n]*" subject "${said}")
    set(which "a certificate of its chain")
    string(FIND "${said}" "${public_key}" at)
    if(NOT at EQUAL -1 AND signing_certificate STREQUAL "")
      set(which "the certificate")
      set(signing_certificate "${certificate}")
      file(WRITE "${SECRET}/certificate.pem" "${certificate}\n")
    endif()
    string(REGEX MATCH "notBefore=([^\n]*)" valid "${said}")
    if(CMAKE_MATCH_1 STRGREATER now)
      refuse("${which} is not valid yet." "${subject}, valid from ${CMAKE_MATCH_1}")
    endif()
    string(REGEX MATCH "notAfter=([^\n]*)" valid "${said}")
    set(expires "${CMAKE_MATCH_1}")
    if(NOT expires STRGREATER now)
      refuse("${which} has expired." "${subject}, valid until ${expires}")
    endif()
    if(said MATCHES "Public Key Algorithm: rsaEncryption\n *Public-Key: \\(([0-9]+) bit\\)")
      if(CMAKE_MATCH_1 LESS 2048)
        refuse("${which} has an RSA key of ${CMAKE_MATCH_1} bits, under the 2048 that signing needs." "${subject}")
      endif()
    endif()
    if(certificate STREQUAL signing_certificate)
      set(signing_expires "${expires}")
    endif()
  endforeach()
  if(signing_certificate STREQUAL "")
    refuse("no certificate in the file matches its private key." "${pfx}")
  endif()
  # What the signing certificate may do is decided by its extensions alone, not by a name that says so. When
  # present, the key usage must allow digital signatures (RFC 5280, 4.2.1.3) and the extended key usage must hold
  # code signing (1.3.6.1.5.5.7.3.3) as a whole item: OpenSSL calls 1.3.6.1.4.1.311.2.1.22 "Microsoft Commercial
  # Code Signing", which Windows does not take for it.
  signing_step("the certificate could not be read." "${OPENSSL}" x509 -in "${SECRET}/certificate.pem" -noout
    -ext keyUsage,extendedKeyUsage)
  usages("X509v3 Key Usage" "${said}")
  if(DEFINED items AND NOT "Digital Signature" IN_LIST items)
    refuse("the certificate's key usage does not allow digital signatures." "${said}")
  endif()
  usages("X509v3 Extended Key Usage" "${said}")
  if(DEFINED items AND NOT "Code Signing" IN_LIST items)
    refuse("the certificate is not for code signing." "${said}")
  endif()
  signing_step("the certificate could not be read." "${OPENSSL}" x509 -in "${SECRET}/certificate.pem" -noout
    -nameopt multiline,utf8,-esc_msb -subject)
  # The name Windows shows for a signer: the first of these in the certificate's subject.
  set(signer "")
  foreach(attribute commonName organizationalUnitName organizationName emailAddress)
    if(said MATCHES "\n +${attribute} += ([^\n]*)")
      set(signer "${CMAKE_MATCH_1}")
      break()
    endif()
  endforeach()
  if(signer STREQUAL "")
    refuse("the certificate names no signer." "${said}")
  endif()
  set(lasting
    "It has no time stamp: its signature stops being valid when the\n   certificate expires, on ${signing_expires}.")
  set(timestamp "$ENV{DESKTOPSWITCH_SIGN_TIMESTAMP_URL}")
  if(NOT timestamp STREQUAL "")
    set(lasting
      "It is time-stamped: its signature stays valid after the\n   certificate expires, on ${signing_expires}.")
  endif()
  # Signed beside the program, then put in its place. The server's address reaches osslsigncode whole: a ";" in it
  # is escaped, so that the list of arguments does not split it.
  set(sign "${OSSLSIGNCODE}" sign -pkcs12 "${pkcs12}" ${readpass} -h sha256 -n DesktopSwitch
    -in "${STAGED}/DesktopSwitch.exe" -out "${STAGED}/DesktopSwitch.exe.signed")
  if(timestamp STREQUAL "")
    signing_step("osslsigncode refused." ${sign})
  else()
    string(REPLACE ";" "\\;" timestamp "${timestamp}")
    signing_step("osslsigncode refused." ${sign} -ts "${timestamp}")
  endif()
  file(RENAME "${STAGED}/DesktopSwitch.exe.signed" "${STAGED}/DesktopSwitch.exe" RESULT renamed)
  if(NOT renamed STREQUAL "0")
    refuse("the signed program could not replace the unsigned one." "${renamed}")
  endif()
  file(REMOVE_RECURSE "${SECRET}")
  string(REPLACE "\n   " " " said "DesktopSwitch.exe is signed by ${signer}. ${lasting}")
  message(NOTICE "${said}")
  set(DESKTOPSWITCH_SIGNATURE "This release is signed. Right-click DesktopSwitch.exe, Properties, Digital
   Signatures: the list must show exactly one signer, named
       ${signer}
   ${lasting}
   Details says \"This digital signature is OK\" only where Windows trusts
   the root certificate that the signature chains to. Signed with a
   certificate of your own organisation's certification authority, or a
   self-signed one, on a machine that does not trust its root, Details says
   instead \"A certificate chain processed, but terminated in a root
   certificate which is not trusted by the trust provider.\" Then the
   signer's name above and the zip's published checksum (step 1) are what
   to check: both must match.")
endif()
string(REPLACE "\n" "\r\n" DESKTOPSWITCH_SIGNATURE "${DESKTOPSWITCH_SIGNATURE}")  # configure_file leaves it as is
configure_file("${sources}/release/README.txt" "${STAGED}/README.txt" @ONLY NEWLINE_STYLE CRLF)
