# Makes a text file for Windows, OUTPUT, from INPUT: CR LF line ends and, with
# BOM set, the byte order mark by which every Notepad takes UTF-8 for what it
# is (the manual and README.txt show the messages in Japanese). With GROFF,
# INPUT is the manual page, rendered as plain UTF-8 text with no
# overstriking or escape sequences; otherwise @VERSION@ in it is VERSION.
# Expects INPUT, OUTPUT, and GROFF or VERSION.
if(GROFF)
  execute_process(COMMAND "${GROFF}" -k -man -Tutf8 -P-c -P-b -P-o -P-u "${INPUT}"
                  OUTPUT_VARIABLE text COMMAND_ERROR_IS_FATAL ANY)
else()
  file(READ "${INPUT}" text)
  string(CONFIGURE "${text}" text @ONLY)
endif()
string(REPLACE "\n" "\r\n" text "${text}")
set(mark "")
if(BOM)
  string(ASCII 239 187 191 mark)
endif()
file(WRITE "${OUTPUT}" "${mark}${text}")
