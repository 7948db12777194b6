# What the toolchain links into Typeloader.exe and Typeloader-Deploy.exe, found from the build itself:
# the link writes a map, and scripts/third_party.py turns every object file
# and archive it names into the Debian packages they came from and writes
# THIRD-PARTY-NOTICES.txt from those packages' copyright files. A file from a
# package without a reviewed entry in cmake/third-party-packages.json stops
# the build. The SBOM is made later, at install time (cmake/sign-and-describe.cmake),
# because it describes the exe as shipped, signed or not.

set(TYPELOADER_LINK_MAP ${PROJECT_BINARY_DIR}/Typeloader.map)
set(TYPELOADER_DEPLOY_LINK_MAP ${PROJECT_BINARY_DIR}/Typeloader-Deploy.map)
set(TYPELOADER_NOTICES ${PROJECT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt)
set(TYPELOADER_SBOM_NAME Typeloader-${PROJECT_VERSION}.spdx.json)
set(TYPELOADER_DEPLOY_SBOM_NAME Typeloader-Deploy-${PROJECT_VERSION}.spdx.json)
set(TYPELOADER_THIRD_PARTY ${PROJECT_SOURCE_DIR}/scripts/third_party.py)
set(TYPELOADER_THIRD_PARTY_TABLE ${PROJECT_SOURCE_DIR}/cmake/third-party-packages.json)
set(TYPELOADER_BUILD_PYTHON /usr/bin/python3 CACHE FILEPATH "Debian's Python, for the notices and the SBOM")

# The map changes nothing in the exe's bytes.
target_link_options(Typeloader PRIVATE -Wl,-Map=${TYPELOADER_LINK_MAP})
target_link_options(Typeloader-Deploy PRIVATE -Wl,-Map=${TYPELOADER_DEPLOY_LINK_MAP})

add_custom_command(OUTPUT ${TYPELOADER_NOTICES}
  COMMAND ${TYPELOADER_BUILD_PYTHON} ${TYPELOADER_THIRD_PARTY} notices
          --map ${TYPELOADER_LINK_MAP} --map ${TYPELOADER_DEPLOY_LINK_MAP} --build-dir ${PROJECT_BINARY_DIR}
          --table ${TYPELOADER_THIRD_PARTY_TABLE} --version ${PROJECT_VERSION} --out ${TYPELOADER_NOTICES}
  DEPENDS Typeloader Typeloader-Deploy ${TYPELOADER_THIRD_PARTY} ${TYPELOADER_THIRD_PARTY_TABLE}
  COMMENT "Third-party notices from the link maps of Typeloader.exe and Typeloader-Deploy.exe"
  VERBATIM)
add_custom_target(third_party_notices ALL DEPENDS ${TYPELOADER_NOTICES})
