# Renders the manual page as plain text for Windows, where there is no man:
# UTF-8 (its messages are Japanese), no overstriking or escape sequences,
# CR LF line ends.
# Expects GROFF, INPUT and OUTPUT.
execute_process(COMMAND "${GROFF}" -k -man -Tutf8 -P-c -P-b -P-o -P-u "${INPUT}"
                OUTPUT_VARIABLE text COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
