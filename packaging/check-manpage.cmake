# cmake -DPROGRAM=<program> -DPAGE=<page.1> -P check-manpage.cmake
#
# Every option a program's --help shows, and every exit status it lists, must be in its manual
# page: a page that falls behind the program tells a user that an option does not exist. --help
# is asked with no display at all, as on a server, where it must work too.
unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})
unset(ENV{QT_QPA_PLATFORM})
execute_process(COMMAND ${PROGRAM} --help RESULT_VARIABLE rc OUTPUT_VARIABLE help
                ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help: exit ${rc}\n${err}")
endif()

file(READ ${PAGE} page)
# troff writes a hyphen in an option as \-
string(REPLACE "\\-" "-" page "${page}")

string(REGEX MATCHALL "--[a-z][a-z0-9-]*" options "${help}")
list(REMOVE_DUPLICATES options)
set(missing)
foreach(option IN LISTS options)
  if(NOT page MATCHES "(^|[^a-z0-9-])${option}([^a-z0-9-]|$)")
    list(APPEND missing ${option})
  endif()
endforeach()

# The statuses --help lists, one a line after "Exit status:", against the page's own section.
string(FIND "${help}" "Exit status:" at)
if(at GREATER_EQUAL 0)
  string(SUBSTRING "${help}" ${at} -1 statuses)
  string(REGEX MATCHALL "\n *[0-9]+ " statuses "${statuses}")
  string(FIND "${page}" ".SH EXIT STATUS" section)
  if(section LESS 0)
    set(section 0)
  endif()
  string(SUBSTRING "${page}" ${section} -1 section)
  string(REGEX REPLACE "\n\\.SH SEE ALSO.*" "" section "${section}")
  foreach(status IN LISTS statuses)
    string(STRIP "${status}" status)
    if(NOT section MATCHES "(^|[^0-9])${status}([^0-9]|$)")
      list(APPEND missing "exit status ${status}")
    endif()
  endforeach()
endif()

if(missing)
  list(JOIN missing ", " missing)
  message(FATAL_ERROR "${PAGE} lacks what ${PROGRAM} --help shows: ${missing}")
endif()
