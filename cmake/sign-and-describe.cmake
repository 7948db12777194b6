# Install-time step for the bundle's copies of Typeloader.exe and
# Typeloader-Deploy.exe, run after they are staged and before SHA256SUMS:
#   1. with TYPELOADER_SIGN_PKCS12 set, scripts/sign-release.sh signs it (Authenticode);
#   2. scripts/third_party.py writes Typeloader-<version>.spdx.json for the exe as
#      staged, so the SBOM's SHA-256 is that of the file that ships.
# Set by packaging.cmake: TYPELOADER_SOURCE_DIR, TYPELOADER_BINARY_DIR,
# TYPELOADER_BUILT_EXE, TYPELOADER_LINK_MAP, TYPELOADER_SBOM_NAME, and the same
# three TYPELOADER_DEPLOY_* for Typeloader-Deploy.exe,
# TYPELOADER_VERSION, TYPELOADER_BUILD_PYTHON.
set(_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

# Typeloader.exe and Typeloader-Deploy.exe alike: each signed, each with its SBOM.
function(sign_and_describe name built_exe link_map sbom_name)
  set(_exe "${_root}/${name}")
  if(NOT EXISTS "${_exe}")
    message(FATAL_ERROR "sign-and-describe: ${_exe} was not installed")
  endif()

  if(NOT "$ENV{TYPELOADER_SIGN_PKCS12}" STREQUAL "")
    execute_process(COMMAND bash "${TYPELOADER_SOURCE_DIR}/scripts/sign-release.sh" "${_exe}"
                    RESULT_VARIABLE _signed)
    if(NOT _signed EQUAL 0)
      message(FATAL_ERROR "Signing ${name} failed (see above): no bundle is made from an exe that was meant to be signed.")
    endif()
  else()
    message(STATUS "TYPELOADER_SIGN_PKCS12 is not set: the bundle holds the unsigned build of ${name}")
  endif()

  execute_process(
    COMMAND "${TYPELOADER_BUILD_PYTHON}" "${TYPELOADER_SOURCE_DIR}/scripts/third_party.py" sbom
            --map "${link_map}" --build-dir "${TYPELOADER_BINARY_DIR}"
            --version "${TYPELOADER_VERSION}" --exe "${_exe}" --unsigned-exe "${built_exe}"
            --source-dir "${TYPELOADER_SOURCE_DIR}" --out "${_root}/${sbom_name}"
    RESULT_VARIABLE _described)
  if(NOT _described EQUAL 0)
    message(FATAL_ERROR "The SBOM of ${name} could not be made (see above).")
  endif()
  # Files written here are not recorded by install(); SHA256SUMS sums the recorded ones.
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${_root}/${sbom_name}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

sign_and_describe(Typeloader.exe "${TYPELOADER_BUILT_EXE}" "${TYPELOADER_LINK_MAP}" "${TYPELOADER_SBOM_NAME}")
sign_and_describe(Typeloader-Deploy.exe "${TYPELOADER_DEPLOY_BUILT_EXE}" "${TYPELOADER_DEPLOY_LINK_MAP}"
                  "${TYPELOADER_DEPLOY_SBOM_NAME}")
