# Release bundle: Typeloader-<version>-win64.zip, made by CPack's ZIP generator.
#
#   cmake --preset windows && cmake --build --preset windows && cpack --preset windows
#
# The archive has no top-level folder; unpacked, it holds:
#   Typeloader.exe
#   Typeloader-Deploy.exe  (what fleet tools run: verified install, guarded uninstall, a log)
#   deploy-fonts.yml       (Ansible playbook)
#   requirements.yml       (the Ansible collection it needs, with its minimum version)
#   README.md              (the administrator's README, packaging/README.md)
#   deploying.md           (the deployment guide)
#   signing.md             (signing a release and checking it against a rebuild)
#   Font/README.txt        (the Font folder, waiting for the *.ttf files)
#   LICENSE
#   THIRD-PARTY-NOTICES.txt         (licences and notices of what the toolchain linked in)
#   Typeloader-<version>.spdx.json  (SPDX 2.3 bill of materials of the exe as shipped)
#   Typeloader-Deploy-<version>.spdx.json  (the same for Typeloader-Deploy.exe)
#   SHA256SUMS             (sha256sum format, one line for each other file)
# Beside the zip: Typeloader-<version>-win64.zip.sha256, the zip's own sum.
#
# Everything an administrator reads or runs besides the exe lives in packaging/.
# With TYPELOADER_SIGN_PKCS12 and TYPELOADER_SIGN_PASSWORD_FILE set, the
# bundle's Typeloader.exe and Typeloader-Deploy.exe are Authenticode-signed before the SBOM and the sums
# are made (scripts/sign-release.sh); without them it is the unsigned build.

install(TARGETS Typeloader Typeloader-Deploy RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/Font/README.txt DESTINATION Font)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
install(FILES
  ${PROJECT_SOURCE_DIR}/packaging/README.md
  ${PROJECT_SOURCE_DIR}/packaging/deploying.md
  ${PROJECT_SOURCE_DIR}/packaging/signing.md
  ${PROJECT_SOURCE_DIR}/packaging/deploy-fonts.yml
  ${PROJECT_SOURCE_DIR}/packaging/requirements.yml
  DESTINATION .)
install(FILES ${TYPELOADER_NOTICES} DESTINATION .)
# Signing (when configured) and the SBOM of the staged exe: after the exe is staged, before the sums.
install(CODE "set(TYPELOADER_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")\nset(TYPELOADER_BINARY_DIR \"${PROJECT_BINARY_DIR}\")\nset(TYPELOADER_BUILT_EXE \"$<TARGET_FILE:Typeloader>\")\nset(TYPELOADER_LINK_MAP \"${TYPELOADER_LINK_MAP}\")\nset(TYPELOADER_SBOM_NAME \"${TYPELOADER_SBOM_NAME}\")\nset(TYPELOADER_DEPLOY_BUILT_EXE \"$<TARGET_FILE:Typeloader-Deploy>\")\nset(TYPELOADER_DEPLOY_LINK_MAP \"${TYPELOADER_DEPLOY_LINK_MAP}\")\nset(TYPELOADER_DEPLOY_SBOM_NAME \"${TYPELOADER_DEPLOY_SBOM_NAME}\")\nset(TYPELOADER_VERSION \"${PROJECT_VERSION}\")\nset(TYPELOADER_BUILD_PYTHON \"${TYPELOADER_BUILD_PYTHON}\")")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/sign-and-describe.cmake)
# Last rule: checksums of everything installed above, made in the staging folder.
install(CODE "set(TYPELOADER_SUMS_ROOT \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/write-sha256sums.cmake)

if(NOT EXISTS ${PROJECT_SOURCE_DIR}/packaging/README.md)
  message(WARNING "packaging/README.md is missing: the release bundle cannot be made until it exists.")
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Typeloader)
set(CPACK_PACKAGE_VENDOR "Typeloader developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(TYPELOADER_PACKAGE_FILE_NAME Typeloader-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_FILE_NAME ${TYPELOADER_PACKAGE_FILE_NAME})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Deploys the TrueType fonts lying beside it for the whole machine")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
# The zip's own sum, published beside it (Typeloader-<version>-win64.zip.sha256,
# sha256sum format):
# SHA256SUMS inside the zip cannot vouch for the zip that carries it.
set(CPACK_PACKAGE_CHECKSUM SHA256)
# No source package: the sources are the git repository.
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
# TYPELOADER_PACKAGE_FILE_NAME: the zip file name without .zip, for the tests
# (CPack leaves CPACK_PACKAGE_FILE_NAME set to the source package name).
