# cmake -DPROGRAM=... -DMAN_PAGE=... [-DCOMPLETION=...] [-DCOMMAND=...]
#       -P documented_options_check.cmake
# Every option the program's --help (or its COMMAND --help) names is in its
# man page (and in the shell completion, when it has one), and the man page
# renders without warnings.
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${PROGRAM} ${COMMAND} --help RESULT_VARIABLE rc OUTPUT_VARIABLE help
                TIMEOUT 30)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ${COMMAND} --help exited with ${rc}")
endif()
string(REGEX MATCHALL "--[a-z0-9][a-z0-9-]*" options "${help}")
list(REMOVE_DUPLICATES options)
if(NOT options)
  message(FATAL_ERROR "${PROGRAM} ${COMMAND} --help names no options:\n${help}")
endif()

file(READ ${MAN_PAGE} man)
string(REPLACE "\\-" "-" man "${man}")
set(documents ${MAN_PAGE})
if(COMPLETION)
  file(READ ${COMPLETION} completion)
  list(APPEND documents ${COMPLETION})
endif()
set(undocumented)
foreach(option IN LISTS options)
  # Whole words only: --port must not pass because --ports is there.
  string(REGEX MATCH "(^|[^a-z0-9-])${option}([^a-z0-9-]|$)" in_man "${man}")
  if(NOT in_man)
    list(APPEND undocumented "${option} (${MAN_PAGE})")
  endif()
  if(COMPLETION)
    string(REGEX MATCH "(^|[^a-z0-9-])${option}([^a-z0-9-]|$)" in_completion "${completion}")
    if(NOT in_completion)
      list(APPEND undocumented "${option} (${COMPLETION})")
    endif()
  endif()
endforeach()
if(undocumented)
  list(JOIN undocumented "\n  " text)
  message(FATAL_ERROR "options in --help but not documented:\n  ${text}")
endif()

find_program(GROFF groff)
if(GROFF)
  execute_process(COMMAND ${GROFF} -man -ww -z ${MAN_PAGE} RESULT_VARIABLE rc
                  ERROR_VARIABLE warnings)
  if(NOT rc EQUAL 0 OR warnings)
    message(FATAL_ERROR "${MAN_PAGE} does not render cleanly:\n${warnings}")
  endif()
endif()
