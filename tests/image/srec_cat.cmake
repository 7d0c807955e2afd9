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
# A UTF-8 byte-order mark, as Notepad saves one, and blanks after every record.
file(READ ${WORK}/crlf.s28 text)
string(REPLACE "\r\n" " \t\r\n" text "${text}")
string(ASCII 239 187 191 mark)
file(WRITE ${WORK}/marked-blanks.s28 "${mark}${text}")
foreach(file linear.hex s3-with-s5.s37 crlf.s28 marked-blanks.s28)
  run(${CLI} --export-image ${WORK}/${file}.bin --firmware ${WORK}/${file})
  same(${WORK}/reference.bin ${WORK}/${file}.bin)
endforeach()

# Ends mid-record and leaves the top erase blocks blank, so it is exported only when allowed.
run(bash ${SOURCE}/tools/samplefirmware.sh ${WORK}/sample.hex 200003 11)
run(${SREC_CAT} ${WORK}/sample.hex -intel -fill 0xFF 0xC0000 0x100000 -offset -0xC0000
    -o ${WORK}/theirs.bin -binary)
run(${CLI} --export-image ${WORK}/ours.bin --firmware ${WORK}/sample.hex --allow-partial-firmware)
same(${WORK}/theirs.bin ${WORK}/ours.bin)
# srec_cat's S-records of a file without a start address carry an S5 count and no end record.
run(${SREC_CAT} ${WORK}/sample.hex -intel -o ${WORK}/counted.s19 -motorola)
run(${CLI} --export-image ${WORK}/counted.bin --firmware ${WORK}/counted.s19
    --allow-partial-firmware)
same(${WORK}/theirs.bin ${WORK}/counted.bin)

# A raw image is refused with the one command that makes S-records of it: that very command
# must work, and its output must read back as the image.
execute_process(COMMAND ${CLI} --info --firmware ${WORK}/reference.bin
                RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
if(NOT rc EQUAL 65 OR NOT err MATCHES "make an S-record file of it with: srec_cat ([^\r\n]*)")
  message(FATAL_ERROR "a raw image was not refused as one: exit ${rc}\n${err}")
endif()
separate_arguments(arguments UNIX_COMMAND "${CMAKE_MATCH_1}")
run(${SREC_CAT} ${arguments})
run(${CLI} --export-image ${WORK}/raw.bin --firmware ${WORK}/reference.s19)
same(${WORK}/reference.bin ${WORK}/raw.bin)
