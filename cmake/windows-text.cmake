# Makes a text file for Windows, OUTPUT, from INPUT, with @VERSION@ in it
# replaced by VERSION: CR LF line ends and, with BOM set, the byte order mark
# by which every Notepad takes UTF-8 for what it is (README.txt and the
# manuals show the messages in Japanese).
# Expects INPUT and OUTPUT, and VERSION where INPUT names it.
file(READ "${INPUT}" text)
string(CONFIGURE "${text}" text @ONLY)
string(REPLACE "\n" "\r\n" text "${text}")
set(mark "")
if(BOM)
  string(ASCII 239 187 191 mark)
endif()
file(WRITE "${OUTPUT}" "${mark}${text}")
