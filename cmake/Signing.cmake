# Authenticode signing of the updater that ships (scripts/test-all.sh and
# README "Releasing"). Given a certificate, building the updater signs it:
#   VR_SIGN_PKCS12         the certificate and its private key (PKCS#12 file)
#   VR_SIGN_PASSWORD_FILE  a file that holds the PKCS#12 file's password
#   VR_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server (optional): without
#                          one, the signature is valid only while the
#                          certificate is
# Each defaults, at the first configure of a build tree, to the environment
# variable of the same name; an empty VR_SIGN_PKCS12 builds an unsigned
# updater (the static_signature test then reports itself skipped).
# The signature is SHA-256 Authenticode in the certificate table, after the
# last section, which the loader of every Windows the updater starts on (98,
# NT 4.0 and later) ignores: it maps sections only.
set(VR_SIGN_PKCS12 "$ENV{VR_SIGN_PKCS12}" CACHE FILEPATH
    "PKCS#12 file that signs the shipped updater (empty: unsigned)")
set(VR_SIGN_PASSWORD_FILE "$ENV{VR_SIGN_PASSWORD_FILE}" CACHE FILEPATH
    "File holding the password of VR_SIGN_PKCS12")
set(VR_SIGN_TIMESTAMP_URL "$ENV{VR_SIGN_TIMESTAMP_URL}" CACHE STRING
    "RFC 3161 time-stamp server for the signature (empty: none)")
set(VR_SIGN_CAFILE "$ENV{VR_SIGN_CAFILE}" CACHE FILEPATH
    "Certificates the static_signature test trusts (empty: those of VR_SIGN_PKCS12)")

if(VR_SIGN_PKCS12)
  if(NOT VR_SIGN_PASSWORD_FILE)
    message(FATAL_ERROR "VR_SIGN_PKCS12 is set but VR_SIGN_PASSWORD_FILE is not")
  endif()
  find_program(VR_OSSLSIGNCODE osslsigncode REQUIRED)
endif()

# vr_sign_executable(<target>): signs <target>'s file after each link, when
# the build was given a certificate. The signed image is written beside it
# and renamed over it, so a failed signing fails the build and never leaves a
# half-written executable (the unsigned one is removed: nothing unsigned
# passes for a finished build).
function(vr_sign_executable target)
  if(NOT VR_SIGN_PKCS12)
    return()
  endif()
  set(ts)
  if(VR_SIGN_TIMESTAMP_URL)
    set(ts --timestamp ${VR_SIGN_TIMESTAMP_URL})
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/sign-executable.sh
            --osslsigncode ${VR_OSSLSIGNCODE}
            --pkcs12 ${VR_SIGN_PKCS12} --password-file ${VR_SIGN_PASSWORD_FILE}
            --description "Vorrel Recorder 10.30 updater" ${ts}
            $<TARGET_FILE:${target}>
    COMMENT "Signing ${target}"
    VERBATIM)
endfunction()
