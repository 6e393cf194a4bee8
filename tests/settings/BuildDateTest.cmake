# Checks the build-date generator: the header holds the date of SOURCE_DATE_EPOCH, is left
# untouched when the date is unchanged (no needless recompilation), and is rewritten when the
# date moves on.
#   cmake -DGENERATOR=<BuildDate.cmake> -DWORK=<scratch folder> -P BuildDateTest.cmake
set(Header "${WORK}/BuildDate.h")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

function(generate Epoch)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env TZ=UTC SOURCE_DATE_EPOCH=${Epoch}
            ${CMAKE_COMMAND} -DOUTPUT=${Header} -P ${GENERATOR}
    RESULT_VARIABLE Rc)
  if(NOT Rc EQUAL 0)
    message(FATAL_ERROR "generator failed: ${Rc}")
  endif()
endfunction()

function(expect_date Year Month Day)
  file(READ "${Header}" Text)
  foreach(Line "Year = ${Year};" "Month = ${Month};" "Day = ${Day};")
    string(FIND "${Text}" "${Line}" At)
    if(At EQUAL -1)
      message(FATAL_ERROR "expected '${Line}' in:\n${Text}")
    endif()
  endforeach()
endfunction()

# 7 June 2011, 12:00 UTC.
generate(1307448000)
expect_date(2011 6 7)
file(TIMESTAMP "${Header}" First "%s")

# Later the same day: the file must not be rewritten. Wait past the time stamp's resolution so a
# rewrite would show.
execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 1.2)
generate(1307480000)
file(TIMESTAMP "${Header}" Second "%s")
if(NOT First STREQUAL Second)
  message(FATAL_ERROR "the header was rewritten although the date did not change")
endif()

# The next day: rewritten with the new date.
generate(1307534400)
expect_date(2011 6 8)
