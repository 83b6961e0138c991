# cmake -DGROFF=groff -DMANPAGE=orvanscope-cli.1 -DOUT=orvanscope-cli.txt -P OrvManualText.cmake
# The manual page as plain text with Windows line ends.
execute_process(COMMAND ${GROFF} -man -rHY=0 -Tascii -P-c -P-b -P-u ${MANPAGE}
                OUTPUT_VARIABLE text RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "groff failed on ${MANPAGE}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
