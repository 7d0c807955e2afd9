# cmake -DGENERATOR=tq-b9-genfirmware -DOUTPUT=tmp.s19 -DCOMMITTED=image/firmware.s19 -P reproduce.cmake
file(REMOVE "${OUTPUT}")
execute_process(COMMAND ${GENERATOR} "${OUTPUT}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "tq-b9-genfirmware failed (${rc})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${OUTPUT}" "${COMMITTED}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${COMMITTED} differs from what tq-b9-genfirmware writes (${OUTPUT}); "
                      "rebuild target regenerate-firmware if the change is intended")
endif()
