# Read by CPack for each generator (CPACK_PROJECT_CONFIG_FILE): the installer is named
# tq-b9-<version>-win64-setup.exe, beside tq-b9-<version>-win64.zip.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()
