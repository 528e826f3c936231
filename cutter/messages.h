// The tool's messages, as Shift_JIS (code page 932) byte strings. They are
// spelt in hex escapes so that the source file's encoding cannot change them.
#pragma once

namespace d88cut {

// "を認識しました" follows each disk's name in its recognition line.
#define D88CUT_RECOGNISED "\x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD"

inline constexpr char kProgramDiskMessage[] = "PROGRAM DISK" D88CUT_RECOGNISED ".\n";
inline constexpr char kDiskAMessage[] = "DISK A" D88CUT_RECOGNISED ".\n";
inline constexpr char kDiskBMessage[] = "DISK B" D88CUT_RECOGNISED ".\n";

#undef D88CUT_RECOGNISED

inline constexpr char kUsageFormat[] = "Usage: %s [d88file]\n";
// "ファイルをオープンできません.\n"
inline constexpr char kCannotOpenMessage[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB"
    "\x82\xDC\x82\xB9\x82\xF1.\n";
inline constexpr char kCuttingFormat[] = "cutting ... %s\n";
// "%s: ファイルを書き込めません.\n"
inline constexpr char kCannotWriteFormat[] =
    "%s: \x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x8F\x91\x82\xAB\x8D\x9E\x82\xDF\x82\xDC\x82\xB9"
    "\x82\xF1.\n";

static_assert(sizeof(kCannotOpenMessage) - 1 == 30);

}  // namespace d88cut
