# The Windows folder, and the installer and zip made from it. Included from CMakeLists.txt.
#
# Qt 6.4 has no deployment tool for a cross build, and this list is short, so the folder is named
# here on every Windows build alike: Qt's DLLs and the two plugins the window loads (the platform
# and the native style), then the compiler's runtime and zlib. tq-b9-cli needs a subset of them.
install(FILES
  $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
  $<TARGET_FILE:Qt6::SerialPort>
  ${TQB9_MINGW_RUNTIME}
  DESTINATION .)
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)
if(MSVC)
  set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION .)
  include(InstallRequiredSystemLibraries)
endif()
install(FILES copyright DESTINATION . RENAME copyright.txt)

# `--strip` and CPack strip what they build, not files they copy, and the DLLs come with their
# debugging sections (libstdc++ alone is 23 MB with them, 2 MB without).
if(CMAKE_STRIP AND NOT MSVC)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      file(GLOB_RECURSE tqb9_dlls \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/*.dll\")
      foreach(dll IN LISTS tqb9_dlls)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded \"\${dll}\"
                        RESULT_VARIABLE rc)
        if(NOT rc EQUAL 0)
          message(FATAL_ERROR \"cannot strip \${dll}\")
        endif()
      endforeach()
    endif()")
endif()

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME tq-b9)
set(CPACK_PACKAGE_VENDOR "TQ-B9 firmware writer developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware writer for the TQ-B9 handheld radio")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_STRIP_FILES ON)
# The ZIP gets the folder as it is installed; the NSIS installer's name says what it is
# (cpackconfig.cmake).
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/cpackconfig.cmake)

# Per machine, 64-bit, in Program Files: C:\Program Files\TQ-B9.
set(CPACK_PACKAGE_INSTALL_DIRECTORY "TQ-B9")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "TQ-B9")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# NSIS's default stub is a 32-bit ANSI program, which a 64-bit-only Windows (or Wine) cannot run.
set(CPACK_NSIS_DEFINES "Unicode true\n  Target amd64-unicode")
set(CPACK_NSIS_PACKAGE_NAME "TQ-B9 firmware writer ${PROJECT_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME "TQ-B9 firmware writer ${PROJECT_VERSION}")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_INSTALLED_ICON_NAME tq-b9.exe)
# A Start-menu entry for the window; the programs sit at the top of the folder, not in bin\.
set(CPACK_PACKAGE_EXECUTABLES tq-b9 "TQ-B9 firmware writer")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
# The flashing station is tq-b9.exe opened with --station, which CPACK_PACKAGE_EXECUTABLES cannot
# give, so its Start-menu shortcut is made (and removed) by hand in the same folder.
set(CPACK_NSIS_CREATE_ICONS_EXTRA
    "CreateShortCut '$SMPROGRAMS\\\\$STARTMENU_FOLDER\\\\TQ-B9 Flashing Station.lnk' '$INSTDIR\\\\tq-b9.exe' '--station'")
set(CPACK_NSIS_DELETE_ICONS_EXTRA
    "Delete '$SMPROGRAMS\\\\$MUI_TEMP\\\\TQ-B9 Flashing Station.lnk'")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/copyright)
include(CPack)
