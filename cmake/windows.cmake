# A Windows build made on Linux with MinGW-w64 against a Windows Qt (make windows, README).
#
# Its programs cannot run on the build machine, so the build-time firmware tool and the tests run
# under Wine, as CMake's cross-compiling emulator: the firmware is then checked by the very reader
# the Windows programs carry, and one configure makes everything, with no second compiler for the
# build machine. The emulator is a script in the build folder that gives Wine a prefix of its own
# there, the DLLs' folders, silence and a time limit.

# The MinGW runtime and zlib every program needs beside it, found where the compiler links them
# from; packaging/ installs them with Qt's DLLs.
set(TQB9_MINGW_RUNTIME)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll zlib1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${found}" OR NOT EXISTS "${found}")
    if(CMAKE_CROSSCOMPILING)
      message(FATAL_ERROR "${CMAKE_CXX_COMPILER} knows no ${dll}: install "
                          "g++-mingw-w64-x86-64-posix and libz-mingw-w64-dev")
    endif()
    # A MinGW on Windows keeps them elsewhere; windeployqt's folder has to do without.
    message(STATUS "${dll} not found: not installed beside the programs")
    continue()
  endif()
  get_filename_component(found "${found}" REALPATH)
  list(APPEND TQB9_MINGW_RUNTIME "${found}")
endforeach()

if(NOT CMAKE_CROSSCOMPILING OR NOT CMAKE_HOST_UNIX OR CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()

find_program(TQB9_WINE NAMES wine64 wine PATHS /usr/lib/wine)
find_program(TQB9_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine)
if(NOT TQB9_WINE OR NOT TQB9_WINESERVER)
  message(FATAL_ERROR "Wine not found: install wine64, or give -DCMAKE_CROSSCOMPILING_EMULATOR")
endif()

# Wine's own search path for DLLs: Windows paths on its Z: drive (the Linux root), ";" between.
set(tqb9_dll_dirs "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}")
foreach(dll IN LISTS TQB9_MINGW_RUNTIME)
  get_filename_component(dir "${dll}" DIRECTORY)
  list(APPEND tqb9_dll_dirs "${dir}")
endforeach()
list(REMOVE_DUPLICATES tqb9_dll_dirs)
# A CMake list is already ";"-separated text.
set(TQB9_WINEPATH)
foreach(dir IN LISTS tqb9_dll_dirs)
  string(REPLACE "/" "\\" dir "Z:${dir}")
  list(APPEND TQB9_WINEPATH "${dir}")
endforeach()

set(TQB9_WINEPREFIX ${CMAKE_BINARY_DIR}/wine)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
