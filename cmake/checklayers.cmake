# cmake -DALLOWED='image|link' -DSOURCES='a.cpp|a.h' -DSTAMP=out -P checklayers.cmake
#
# Fails when a source includes a header of a project folder outside ALLOWED, so the engine's
# layering (image below link below flash below run, no front end below any of them) holds by
# construction and not only by habit. Only quoted includes that name a folder are looked at.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "|" ";" ALLOWED "${ALLOWED}")
string(REPLACE "|" ";" SOURCES "${SOURCES}")
set(folders bench cli flash image link run sim tests tools ui)
set(bad)
foreach(source IN LISTS SOURCES)
  file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+/")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"/]+)/.*$" "\\1" folder "${line}")
    if(folder IN_LIST folders AND NOT folder IN_LIST ALLOWED)
      list(APPEND bad "${source}: ${line}")
    endif()
  endforeach()
endforeach()
if(bad)
  list(JOIN bad "\n  " text)
  message(FATAL_ERROR "Includes across the engine's layers (allowed here: ${ALLOWED}):\n  ${text}")
endif()
file(WRITE "${STAMP}" "${ALLOWED}\n")
