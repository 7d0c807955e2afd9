# cmake -DINPUT=firmware.s19 -DOUTPUT=firmwarelines.inc -P embedfirmware.cmake
#
# Turns the S-record file into the initialiser list of a std::string_view array, one quoted line
# per entry, so the firmware is compiled into the program and nothing is read from disk at run
# time. Every line is checked to be plain S-record text: anything else (a stray quote, a CR from a
# Windows checkout) would otherwise end up in the program or break the C++.
file(STRINGS "${INPUT}" lines)
set(body "// Generated from image/firmware.s19 by image/embedfirmware.cmake; edit the .s19, not this.\n")
set(number 0)
foreach(line IN LISTS lines)
  math(EXPR number "${number} + 1")
  if(NOT line MATCHES "^S[0-9A-F]+$")
    message(FATAL_ERROR "${INPUT}:${number}: not an upper-case S-record line")
  endif()
  # A "..."sv literal carries its length: clang would otherwise count the characters of all the
  # lines at compile time and run out of constant-evaluation steps.
  string(APPEND body "\"${line}\"sv,\n")
endforeach()
file(WRITE "${OUTPUT}.tmp" "${body}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
