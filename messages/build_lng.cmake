# Joins the English section and the Japanese section, converted from UTF-8 to Shift_JIS,
# into one message file. Run with cmake -P; ICONV, ENGLISH, JAPANESE and OUTPUT are given
# with -D. Everything goes to temporary files first, so a failed conversion never leaves a
# half-written wbbs.lng that the next build would take for up to date.
foreach(var ICONV ENGLISH JAPANESE OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "build_lng.cmake needs -D${var}=...")
  endif()
endforeach()

# The Japanese header must start a line of its own, or its section would not be found.
file(READ ${ENGLISH} english_text)
if(NOT english_text MATCHES "\n$")
  message(FATAL_ERROR "${ENGLISH} must end with a line break")
endif()

set(japanese_sjis ${OUTPUT}.japanese.tmp)
set(joined ${OUTPUT}.tmp)
file(REMOVE ${japanese_sjis} ${joined})

# A character without a Shift_JIS code makes iconv stop with an error; that must fail the
# build rather than install a truncated section.
execute_process(
  COMMAND ${ICONV} -f UTF-8 -t SHIFT_JIS ${JAPANESE}
  OUTPUT_FILE ${japanese_sjis}
  ERROR_VARIABLE iconv_error
  RESULT_VARIABLE iconv_result)
if(NOT iconv_result EQUAL 0)
  file(REMOVE ${japanese_sjis})
  message(FATAL_ERROR "${JAPANESE} does not convert to Shift_JIS: ${iconv_error}")
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -E cat ${ENGLISH} ${japanese_sjis}
  OUTPUT_FILE ${joined}
  RESULT_VARIABLE cat_result)
file(REMOVE ${japanese_sjis})
if(NOT cat_result EQUAL 0)
  file(REMOVE ${joined})
  message(FATAL_ERROR "could not join the message file sections")
endif()

file(RENAME ${joined} ${OUTPUT})
