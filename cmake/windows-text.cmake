# Writes TEXT_OUTPUT with CR LF line ends, for Notepad: the file TEXT_INPUT,
# or with MANUAL set the manual page TEXT_INPUT formatted as plain text.
#   cmake -DTEXT_INPUT=... -DTEXT_OUTPUT=... [-DMANUAL=ON] -P windows-text.cmake
if(MANUAL)
  find_program(GROFF groff REQUIRED)
  # -P-cbou: no overstriking or escape sequences, plain characters only.
  execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou ${TEXT_INPUT}
                  OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "groff failed on ${TEXT_INPUT}")
  endif()
else()
  file(READ ${TEXT_INPUT} text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${TEXT_OUTPUT} "${text}")
