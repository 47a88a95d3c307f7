# Authenticode signatures of the shipped programs (docs/release.md). Given a certificate and its
# key (cache entries, or the environment variables of the same names at the first configure),
# every program marked with oku_sign() is signed by osslsigncode right after it is linked, so
# that whatever embeds it (OkuUninstall.exe inside the installer, zucchini.exe inside update
# packages) embeds the signed file. Without a certificate nothing is signed.
set(OKU_SIGN_CERT "$ENV{OKU_SIGN_CERT}" CACHE FILEPATH "Code-signing certificate (PEM or DER); empty: no signatures")
set(OKU_SIGN_KEY "$ENV{OKU_SIGN_KEY}" CACHE FILEPATH "Private key of OKU_SIGN_CERT (PEM or DER)")
set(OKU_SIGN_PASS_FILE "$ENV{OKU_SIGN_PASS_FILE}" CACHE FILEPATH "File holding the key's password, if it has one")
set(OKU_SIGN_SCRIPT ${CMAKE_SOURCE_DIR}/cmake/oku-sign.sh)

set(OKU_SIGNING OFF)
if(OKU_SIGN_CERT)
  if(NOT OKU_SIGN_KEY)
    message(FATAL_ERROR "OKU_SIGN_CERT is set but OKU_SIGN_KEY is not")
  endif()
  foreach(file OKU_SIGN_CERT OKU_SIGN_KEY OKU_SIGN_PASS_FILE)
    if(${file} AND NOT EXISTS "${${file}}")
      message(FATAL_ERROR "${file}: no such file: ${${file}}")
    endif()
  endforeach()
  find_program(OKU_OSSLSIGNCODE osslsigncode)
  if(NOT OKU_OSSLSIGNCODE)
    message(FATAL_ERROR "Signing needs osslsigncode (Debian package osslsigncode; scripts/bootstrap.sh installs it)")
  endif()
  get_filename_component(OKU_SIGN_CERT_ABS "${OKU_SIGN_CERT}" ABSOLUTE)
  get_filename_component(OKU_SIGN_KEY_ABS "${OKU_SIGN_KEY}" ABSOLUTE)
  set(OKU_SIGN_PASS_ABS "")
  if(OKU_SIGN_PASS_FILE)
    get_filename_component(OKU_SIGN_PASS_ABS "${OKU_SIGN_PASS_FILE}" ABSOLUTE)
  endif()
  set(OKU_SIGNING ON)
  message(STATUS "Signing with ${OKU_SIGN_CERT_ABS}")
endif()

# The signing tool and its key material, after oku-sign.sh's <1|0> <file> arguments.
set(OKU_SIGN_ARGS "")
if(OKU_SIGNING)
  set(OKU_SIGN_ARGS ${OKU_OSSLSIGNCODE} ${OKU_SIGN_CERT_ABS} ${OKU_SIGN_KEY_ABS} ${OKU_SIGN_PASS_ABS})
endif()

# oku_sign(<target>...): the targets' files are signed after every link (programs made by
# oku_windows_program, from any folder).
function(oku_sign)
  foreach(target ${ARGN})
    set_property(TARGET ${target} PROPERTY OKU_SIGN ON)
  endforeach()
endfunction()

# Called by oku_windows_program for each program: a post-build step that signs the file when the
# target is marked.
function(_oku_sign_post_build target)
  if(NOT OKU_SIGNING)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${OKU_SIGN_SCRIPT} $<BOOL:$<TARGET_PROPERTY:${target},OKU_SIGN>> $<TARGET_FILE:${target}> ${OKU_SIGN_ARGS}
    VERBATIM)
endfunction()
