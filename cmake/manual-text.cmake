# Renders the manual page as plain text for Windows, where there is no man:
# no overstriking or escape sequences, CR LF line ends.
# Expects GROFF, INPUT and OUTPUT.
execute_process(COMMAND "${GROFF}" -man -Tascii -P-c -P-b -P-o -P-u "${INPUT}"
                OUTPUT_VARIABLE text COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
