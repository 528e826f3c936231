// Reader of D88 containers: disk images stored back to back, each a header
// with a track table followed by tracks of sector records.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

namespace d88 {

inline constexpr int kMaxDisks = 64;
inline constexpr int kTrackCount = 164;
inline constexpr int kDiskNameSize = 16;
inline constexpr int kWriteProtectOffset = 0x1A;  // nonzero: write-protected
inline constexpr int kMediaTypeOffset = 0x1B;
inline constexpr int kDiskSizeOffset = 0x1C;
inline constexpr int kTrackTableOffset = 0x20;
inline constexpr int kDiskHeaderSize = kTrackTableOffset + kTrackCount * 4;
static_assert(kDiskHeaderSize == 0x2B0);

inline constexpr int kSectorHeaderSize = 16;
// Sectors are read through a window of the file this large: a track's
// headers are walked in memory, and one read of the file serves several
// tracks.
inline constexpr int kWindowSize = 16 * 1024;
inline constexpr int kSectorCountOffset = 4;
// How the drive that made the dump read the sector.
inline constexpr int kStatusOffset = 8;
inline constexpr int kDataSizeOffset = 14;

// Status bytes that say the drive could not read the sector right; any
// other value (0x00 normal, 0x10 deleted data, ...) reads as normal.
inline constexpr std::uint8_t kStatusIdCrcError = 0xA0;
inline constexpr std::uint8_t kStatusDataCrcError = 0xB0;
inline constexpr std::uint8_t kStatusNoAddressMark = 0xE0;
inline constexpr std::uint8_t kStatusNoDataMark = 0xF0;
[[nodiscard]] constexpr bool isFlagged(std::uint8_t status) {
    return status == kStatusIdCrcError || status == kStatusDataCrcError ||
           status == kStatusNoAddressMark || status == kStatusNoDataMark;
}

// Why a sector was not found.
enum class Miss : std::uint8_t {
    None,
    NoTrack,       // its track side has no place in the file
    NotOnTrack,    // the walk of its track side ended without it
    PastFileEnd,   // the file ended before the walk found it
};

// What a run does at a sector that it cannot read whole: stop there (the
// sum counts the whole chunks before it), or go on to the next sector as
// after a good one, each chunk holding what its sector gave followed by
// zero bytes.
enum class RunMode : std::uint8_t { StopAtGap, ReadOn };

// One sector of the latest readRun, in order: every one it looked for.
struct RunStep {
    int trackIndex = 0;
    int c = 0;
    int h = 0;
    int r = 0;
    int chunk = 0;        // the bytes the run wanted of it
    int copied = 0;       // the bytes it gave; below chunk where it fell short
    int dataSize = 0;     // its data size as its header states it, when found
    std::uint8_t status = 0;
    Miss miss = Miss::None;
    // Where its data begins in the file, when found.
    std::int64_t dataAt = -1;
    // When not found: the size code of a sector of the track with the same
    // C, H and R, or -1.
    int otherSizeCode = -1;
};

class D88Image {
public:
    D88Image() = default;
    ~D88Image();
    D88Image(const D88Image&) = delete;
    D88Image& operator=(const D88Image&) = delete;

    // Opens the container and counts its disk images; true also when none is
    // found. A null path closes the container. A directory, or a file that
    // cannot be positioned, cannot be opened.
    [[nodiscard]] bool open(const char* path);
    // The same for a container that the caller opened for reading bytes (by a
    // name that std::fopen cannot take, say); the reader owns `file` from
    // then on. A null `file` stands for an opening that failed: false, with
    // the errno that it left as the system error.
    [[nodiscard]] bool adopt(std::FILE* file);
    [[nodiscard]] int diskCount() const { return diskCount_; }
    // Makes disk image `index` (0-based) current; on failure no disk is current.
    [[nodiscard]] bool selectDisk(int index);
    // The sector numbers at which readRun starts a track and leaves it.
    void setSectorRange(int first, int last);
    [[nodiscard]] const char* diskName() const { return diskName_.data(); }
    [[nodiscard]] int mediaType() const { return mediaType_; }
    [[nodiscard]] bool writeProtected() const { return writeProtected_; }
    // Where the current disk begins in the file (-1 when none is current),
    // and its length as its header states it.
    [[nodiscard]] std::int32_t diskOffset() const { return diskOffset_; }
    [[nodiscard]] std::uint32_t statedDiskSize() const { return statedSize_; }
    // The length that the current disk is read as: its stated size, or the
    // rest of the file where that states less than a disk header. Such a
    // disk image is the last one counted.
    [[nodiscard]] std::uint32_t diskSize() const { return static_cast<std::uint32_t>(diskSize_); }
    [[nodiscard]] bool readsToEnd() const { return readsToEnd_; }
    // True when the walk of the disk headers stopped at the limit of disk
    // images with a whole header still following the last one counted.
    [[nodiscard]] bool disksBeyondLimit() const { return disksBeyondLimit_; }
    // The length of the container file; -1 when the system cannot tell it.
    [[nodiscard]] std::int64_t fileSize();
    // The system's error number from the latest opening, read or seek of the
    // container that the system reported as failed (the end of the file is no
    // failure); 0 when there was none since the opening or clearSystemError.
    [[nodiscard]] int systemError() const { return systemError_; }
    void clearSystemError() { systemError_ = 0; }
    // The open container, for asking the system about the file itself;
    // nullptr when none is open. Reading it moves the reader's position,
    // which every operation sets anew.
    [[nodiscard]] std::FILE* file() const { return file_; }

    // True when the current disk's track table gives track `trackIndex` a
    // place in the file.
    [[nodiscard]] bool hasTrack(int trackIndex) const { return trackStart(trackIndex) >= 0; }
    // True when a sector header of track `trackIndex` has the ID (c, h, r, n).
    [[nodiscard]] bool hasSector(int trackIndex, int c, int h, int r, int n);
    // Copies the data of sector (c, h, r, n) in track `trackIndex`, at most
    // maxLength bytes; the result is the number of bytes copied, 0 when the
    // sector is not found. Of several sectors with that ID in the track, the
    // first that the drive read without error is copied, or the first of
    // all where it flagged every one.
    [[nodiscard]] int readSector(int trackIndex, int c, int h, int r, int n,
                                 std::uint8_t* destination, int maxLength);
    // Reads `length` bytes of consecutive sectors of size code n from
    // (c, h, r) on, stepping through the sector range and across track sides.
    // Stopping at a gap, the result counts the whole chunks read before the
    // run broke off; reading on, the bytes that the sectors gave.
    [[nodiscard]] int readRun(int trackIndex, int c, int h, int r, int n,
                              std::uint8_t* destination, int length,
                              RunMode mode = RunMode::StopAtGap);
    // The sectors of the latest readRun: every one it looked for, the one it
    // broke off at included.
    [[nodiscard]] std::span<const RunStep> lastRun() const { return runSteps_; }
    // Writes C, H, R, N of the sectors stored in a track, 4 bytes each, as
    // many as fit in maxBytes; the result is the number of bytes written.
    [[nodiscard]] int listSectorIds(int trackIndex, std::uint8_t* destination, int maxBytes);

private:
    void close();
    void clearCurrentDisk();
    void scan();
    [[nodiscard]] bool seekTo(std::int64_t position);
    [[nodiscard]] bool readExactly(std::uint8_t* destination, int length);
    // Reads from the current position: the count read, short at the file's
    // end, or -1 when the system fails the read.
    [[nodiscard]] int readFile(std::uint8_t* destination, int length);
    // The file position where a track of the current disk starts, or -1.
    [[nodiscard]] std::int64_t trackStart(int trackIndex) const;
    // Walks the sector headers of a track for the ID (c, h, r, n): the first
    // such sector whose status is no error, else the first one. The result
    // is the file position of its data, with its data size and status in
    // `step`, or -1 when the walk ends without one, with why in `step.miss`.
    [[nodiscard]] std::int64_t locateSector(int trackIndex, int c, int h, int r, int n, RunStep& step);
    // readSector, telling in `step` how it went.
    [[nodiscard]] int readSector(int trackIndex, int c, int h, int r, int n,
                                 std::uint8_t* destination, int maxLength, RunStep& step);
    // Copies at most `length` bytes from `position` of the file through the
    // window; the result is the number copied, short at the file's end. The
    // window is refilled from `from`, the start of the track being walked,
    // where the bytes fit after it, so that the whole walk stays in it.
    [[nodiscard]] int readAt(std::int64_t from, std::int64_t position, std::uint8_t* destination, int length);

    std::FILE* file_ = nullptr;
    std::int32_t diskCount_ = 0;
    std::int32_t firstSector_ = 1;
    std::int32_t lastSector_ = 16;
    std::array<std::int32_t, kMaxDisks> diskOffsets_{};
    std::int32_t diskSize_ = 0;
    std::uint32_t statedSize_ = 0;
    bool readsToEnd_ = false;
    std::int32_t diskOffset_ = 0;
    std::array<std::int32_t, kTrackCount> trackTable_{};
    std::int32_t mediaType_ = -1;
    bool writeProtected_ = false;
    std::array<char, kDiskNameSize + 1> diskName_{};
    bool disksBeyondLimit_ = false;
    // The disk image that is read to the end of the file, and that length.
    int readToEndIndex_ = -1;
    std::int32_t readToEndSize_ = 0;
    int systemError_ = 0;
    // The bytes of the file from windowStart_ on, windowLength_ of them.
    std::int64_t windowStart_ = 0;
    int windowLength_ = 0;
    std::array<std::uint8_t, kWindowSize> window_{};
    std::vector<RunStep> runSteps_;
};

}  // namespace d88
