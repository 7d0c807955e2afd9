# cmake -DSREC_CAT=srec_cat -DCLI=tq-b9-cli -DSOURCE=<repo> -DWORK=<dir> -P srec_cat.cmake
#
# SRecord's srec_cat as an oracle the reader shares no code with: its conversions of the test
# image must read as that very image, and its reading of another firmware must give the same bytes
# as ours.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}\nexit ${rc}\n${out}${err}")
  endif()
endfunction()
function(same a b)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${a} ${b} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${a} and ${b} differ")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(s19 ${SOURCE}/image/firmware.s19)
run(${CLI} --export-image ${WORK}/reference.bin --firmware ${s19})
run(${SREC_CAT} ${s19} -o ${WORK}/linear.hex -intel)
run(${SREC_CAT} ${s19} -o ${WORK}/s3-with-s5.s37 -motorola -address-length=4)
run(${SREC_CAT} ${s19} -o ${WORK}/crlf.s28 -motorola -address-length=3 -line-termination=crlf)
foreach(file linear.hex s3-with-s5.s37 crlf.s28)
  run(${CLI} --export-image ${WORK}/${file}.bin --firmware ${WORK}/${file})
  same(${WORK}/reference.bin ${WORK}/${file}.bin)
endforeach()

run(bash ${SOURCE}/tools/samplefirmware.sh ${WORK}/sample.hex 200003 11)
run(${SREC_CAT} ${WORK}/sample.hex -intel -fill 0xFF 0xC0000 0x100000 -offset -0xC0000
    -o ${WORK}/theirs.bin -binary)
run(${CLI} --export-image ${WORK}/ours.bin --firmware ${WORK}/sample.hex)
same(${WORK}/theirs.bin ${WORK}/ours.bin)
