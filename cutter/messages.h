// The tool's messages. Those with Japanese text are Shift_JIS (code page 932)
// byte strings, each with its UTF-8 twin for a terminal that shows UTF-8.
// All are spelt in hex escapes so that the source file's encoding cannot
// change them.
#pragma once

namespace d88cut {

// A message in its two encodings. Messages about a file or a folder follow
// its name, which is written as it is before them.
struct Message {
    const char* shiftJis;
    const char* utf8;
};

// "を認識しました" follows each disk's name in its recognition line.
#define D88CUT_RECOGNISED_SJIS "\x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD"
#define D88CUT_RECOGNISED_UTF8 \
    "\xE3\x82\x92\xE8\xAA\x8D\xE8\xAD\x98\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F"

inline constexpr Message kProgramDiskMessage = {"PROGRAM DISK" D88CUT_RECOGNISED_SJIS ".\n",
                                                "PROGRAM DISK" D88CUT_RECOGNISED_UTF8 ".\n"};
inline constexpr Message kDiskAMessage = {"DISK A" D88CUT_RECOGNISED_SJIS ".\n",
                                          "DISK A" D88CUT_RECOGNISED_UTF8 ".\n"};
inline constexpr Message kDiskBMessage = {"DISK B" D88CUT_RECOGNISED_SJIS ".\n",
                                          "DISK B" D88CUT_RECOGNISED_UTF8 ".\n"};

#undef D88CUT_RECOGNISED_SJIS
#undef D88CUT_RECOGNISED_UTF8

// "ファイルをオープンできません.\n"
inline constexpr Message kCannotOpenMessage = {
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB"
    "\x82\xDC\x82\xB9\x82\xF1.\n",
    "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92\xE3\x82\xAA\xE3\x83\xBC\xE3\x83"
    "\x97\xE3\x83\xB3\xE3\x81\xA7\xE3\x81\x8D\xE3\x81\xBE\xE3\x81\x9B\xE3\x82\x93.\n"};
// NAME ": ファイルを書き込めません.\n"
inline constexpr Message kCannotWriteMessage = {
    ": \x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x8F\x91\x82\xAB\x8D\x9E\x82\xDF\x82\xDC\x82\xB9"
    "\x82\xF1.\n",
    ": \xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92\xE6\x9B\xB8\xE3\x81\x8D\xE8"
    "\xBE\xBC\xE3\x82\x81\xE3\x81\xBE\xE3\x81\x9B\xE3\x82\x93.\n"};
// DIR ": ディレクトリを開けません.\n"
inline constexpr Message kCannotEnterMessage = {
    ": \x83\x66\x83\x42\x83\x8C\x83\x4E\x83\x67\x83\x8A\x82\xF0\x8A\x4A\x82\xAF\x82\xDC\x82\xB9"
    "\x82\xF1.\n",
    ": \xE3\x83\x87\xE3\x82\xA3\xE3\x83\xAC\xE3\x82\xAF\xE3\x83\x88\xE3\x83\xAA\xE3\x82\x92\xE9"
    "\x96\x8B\xE3\x81\x91\xE3\x81\xBE\xE3\x81\x9B\xE3\x82\x93.\n"};

inline constexpr char kUsageFormat[] = "Usage: %s [d88file]\n";
inline constexpr char kCuttingFormat[] = "cutting ... %s\n";

}  // namespace d88cut
