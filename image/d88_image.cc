#include "image/d88_image.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "image/le.h"

namespace d88 {

D88Image::~D88Image() { close(); }

void D88Image::close() {
    if (file_ != nullptr) {
        (void)std::fclose(file_);
        file_ = nullptr;
    }
    windowLength_ = 0;
    diskCount_ = 0;
    disksBeyondLimit_ = false;
    readToEndIndex_ = -1;
    mediaType_ = -1;
}

void D88Image::clearCurrentDisk() {
    diskOffset_ = -1;
    mediaType_ = -1;
    writeProtected_ = false;
    diskSize_ = 0;
    statedSize_ = 0;
    readsToEnd_ = false;
    diskName_.fill('\0');
}

bool D88Image::open(const char* path) {
    if (path == nullptr) {
        close();
        return true;
    }
    systemError_ = 0;  // an error of the file opened before is no longer told
    if (file_ != nullptr) {
        close();
        clearCurrentDisk();
    }
    // A directory, a pipe or a socket is no container; opening a pipe would
    // even wait for a writer.
    std::error_code error;
    const auto type = std::filesystem::status(path, error).type();
    if (type == std::filesystem::file_type::directory || type == std::filesystem::file_type::fifo ||
        type == std::filesystem::file_type::socket) {
        return false;
    }
    return adopt(std::fopen(path, "rb"));
}

bool D88Image::adopt(std::FILE* file) {
    const int openError = errno;
    if (file_ != nullptr) {
        close();
        clearCurrentDisk();
    }
    systemError_ = 0;
    if (file == nullptr) {
        systemError_ = openError;
        return false;
    }
    // The window and whole headers are all that is read: the stream needs no
    // buffer of its own, and each read goes straight to the file.
    (void)std::setvbuf(file, nullptr, _IONBF, 0);
    // A terminal cannot be positioned.
    if (std::fseek(file, 0, SEEK_SET) != 0) {
        systemError_ = errno;
        (void)std::fclose(file);
        return false;
    }
    file_ = file;
    scan();
    return true;
}

// Counts the disk images: each begins where the previous one's disk size
// says it ends, and counts when its header is there in full. A disk size
// below the header's own (0, as some converters write it, or the bytes of a
// file that is no container) cannot say where the next one begins: that
// disk image runs to the end of the file, and is the last. Only the headers
// are needed, so they are read directly, not through the window.
void D88Image::scan() {
    std::int32_t position = 0;
    diskCount_ = 0;
    disksBeyondLimit_ = false;
    readToEndIndex_ = -1;
    std::array<std::uint8_t, kDiskHeaderSize> header{};
    while (diskCount_ < kMaxDisks) {
        diskOffsets_[static_cast<std::size_t>(diskCount_)] = position;
        if (!seekTo(position) || !readExactly(header.data(), kDiskHeaderSize)) {
            return;
        }
        const std::uint32_t size = loadLe32(&header[kDiskSizeOffset]);
        if (size < static_cast<std::uint32_t>(kDiskHeaderSize)) {
            const std::int64_t end = fileSize();
            readToEndIndex_ = diskCount_++;
            readToEndSize_ = static_cast<std::int32_t>(
                std::clamp<std::int64_t>(end - position, kDiskHeaderSize, std::numeric_limits<std::int32_t>::max()));
            return;
        }
        position = wrapAdd(position, static_cast<std::int32_t>(size));
        ++diskCount_;
    }
    // Not counted, but worth telling of.
    disksBeyondLimit_ = seekTo(position) && readExactly(header.data(), kDiskHeaderSize);
}

std::int64_t D88Image::fileSize() {
    if (file_ == nullptr) {
        return -1;
    }
    if (std::fseek(file_, 0, SEEK_END) != 0) {
        systemError_ = errno;
        return -1;
    }
    const long size = std::ftell(file_);
    if (size < 0) {
        systemError_ = errno;
    }
    return size;
}

bool D88Image::selectDisk(int index) {
    if (file_ == nullptr) {
        return false;
    }
    clearCurrentDisk();
    if (index < 0 || index >= diskCount_) {
        return false;
    }
    const std::int32_t offset = diskOffsets_[static_cast<std::size_t>(index)];
    std::array<std::uint8_t, kDiskHeaderSize> header{};
    if (!seekTo(offset) || !readExactly(header.data(), kDiskHeaderSize)) {
        return false;
    }
    for (std::size_t t = 0; t < trackTable_.size(); ++t) {
        trackTable_[t] = static_cast<std::int32_t>(loadLe32(&header[kTrackTableOffset + 4 * t]));
    }
    mediaType_ = header[kMediaTypeOffset];
    writeProtected_ = header[kWriteProtectOffset] != 0;
    statedSize_ = loadLe32(&header[kDiskSizeOffset]);
    readsToEnd_ = index == readToEndIndex_;
    diskSize_ = readsToEnd_ ? readToEndSize_ : static_cast<std::int32_t>(statedSize_);
    diskOffset_ = offset;
    for (std::size_t i = 0; i < kDiskNameSize && header[i] != 0; ++i) {
        diskName_[i] = static_cast<char>(header[i]);
    }
    return true;
}

void D88Image::setSectorRange(int first, int last) {
    firstSector_ = first;
    lastSector_ = last;
}

// A position that the container's own fields put outside what a file can
// have fails without a word; a seek that the system refuses is a failure.
bool D88Image::seekTo(std::int64_t position) {
    if (position < 0 || position > std::numeric_limits<long>::max()) {
        return false;
    }
    if (std::fseek(file_, static_cast<long>(position), SEEK_SET) != 0) {
        systemError_ = errno;
        return false;
    }
    return true;
}

int D88Image::readFile(std::uint8_t* destination, int length) {
    errno = 0;
    const std::size_t count = std::fread(destination, 1, static_cast<std::size_t>(length), file_);
    if (count < static_cast<std::size_t>(length) && std::ferror(file_) != 0) {
        systemError_ = errno != 0 ? errno : EIO;
        std::clearerr(file_);
        return -1;
    }
    return static_cast<int>(count);
}

bool D88Image::readExactly(std::uint8_t* destination, int length) {
    return readFile(destination, length) == length;
}

int D88Image::readAt(std::int64_t from, std::int64_t position, std::uint8_t* destination, int length) {
    if (file_ == nullptr || position < 0 || length <= 0) {
        return 0;
    }
    if (position < windowStart_ || position + length > windowStart_ + windowLength_) {
        if (length > kWindowSize) {
            return seekTo(position) ? std::max(0, readFile(destination, length)) : 0;
        }
        windowStart_ = from >= 0 && from <= position && position + length - from <= kWindowSize ? from : position;
        // What a failed read left is no picture of the file.
        windowLength_ = seekTo(windowStart_) ? std::max(0, readFile(window_.data(), kWindowSize)) : 0;
    }
    const auto at = static_cast<int>(position - windowStart_);
    const int count = std::min(length, windowLength_ - at);
    if (count <= 0) {
        return 0;
    }
    std::memcpy(destination, window_.data() + at, static_cast<std::size_t>(count));
    return count;
}

// A track exists when its table entry, an unsigned offset into the disk
// image, is non-zero and below the disk size (at the size the next disk image
// begins), and puts it within the file.
std::int64_t D88Image::trackStart(int trackIndex) const {
    if (file_ == nullptr || diskOffset_ < 0 || trackIndex < 0 || trackIndex >= kTrackCount) {
        return -1;
    }
    const std::int32_t entry = trackTable_[static_cast<std::size_t>(trackIndex)];
    if (entry == 0 || static_cast<std::uint32_t>(entry) >= diskSize()) {
        return -1;
    }
    const std::int32_t start = wrapAdd(diskOffset_, entry);
    return start >= 0 ? start : -1;
}

std::int64_t D88Image::locateSector(int trackIndex, int c, int h, int r, int n, RunStep& step) {
    const std::int64_t start = trackStart(trackIndex);
    step.dataAt = -1;
    step.otherSizeCode = -1;
    if (start < 0) {
        step.miss = Miss::NoTrack;
        return -1;
    }
    std::int64_t position = start;
    std::array<std::uint8_t, kSectorHeaderSize> header{};
    // Only a header whose own count is i + 1 ends the walk; the file's end
    // ends it otherwise, as every step moves on by at least one header. A
    // copy that the drive flagged is taken only where the walk finds no
    // other, so the walk goes on past it.
    Miss end = Miss::NotOnTrack;
    for (std::int64_t i = 0;; ++i) {
        if (readAt(start, position, header.data(), kSectorHeaderSize) != kSectorHeaderSize) {
            end = Miss::PastFileEnd;
            break;
        }
        position += kSectorHeaderSize;
        const std::int64_t sectorCount = loadLe16(&header[kSectorCountOffset]);
        if (sectorCount == 0) {
            break;
        }
        const auto dataSize = static_cast<int>(loadLe16(&header[kDataSizeOffset]));
        if (header[0] == c && header[1] == h && header[2] == r) {
            if (header[3] != n) {
                step.otherSizeCode = step.otherSizeCode < 0 ? header[3] : step.otherSizeCode;
            } else if (step.dataAt < 0 || !isFlagged(header[kStatusOffset])) {
                step.dataAt = position;
                step.dataSize = dataSize;
                step.status = header[kStatusOffset];
                if (!isFlagged(step.status)) {
                    break;
                }
            }
        }
        position += dataSize;
        if (i == sectorCount - 1) {
            break;
        }
    }
    step.miss = step.dataAt >= 0 ? Miss::None : end;
    return step.dataAt;
}

bool D88Image::hasSector(int trackIndex, int c, int h, int r, int n) {
    RunStep step;
    return locateSector(trackIndex, c, h, r, n, step) >= 0;
}

int D88Image::readSector(int trackIndex, int c, int h, int r, int n, std::uint8_t* destination,
                         int maxLength) {
    RunStep step;
    return readSector(trackIndex, c, h, r, n, destination, maxLength, step);
}

int D88Image::readSector(int trackIndex, int c, int h, int r, int n, std::uint8_t* destination,
                         int maxLength, RunStep& step) {
    const std::int64_t position = locateSector(trackIndex, c, h, r, n, step);
    if (position < 0) {
        return 0;
    }
    // The track's start is where the window is refilled from, so that the
    // walk and the data stay in one read of the file.
    return readAt(trackStart(trackIndex), position, destination,
                  std::max(0, std::min(step.dataSize, maxLength)));
}

int D88Image::readRun(int trackIndex, int c, int h, int r, int n, std::uint8_t* destination,
                      int length, RunMode mode) {
    runSteps_.clear();
    // 128 << n must be a positive signed 32-bit value.
    if (n < 0 || n > 23) {
        return 0;
    }
    int chunk = 128 << n;
    int total = 0;
    int given = 0;
    while (total < length) {
        chunk = std::min(chunk, length - total);
        RunStep& step = runSteps_.emplace_back();
        step.trackIndex = trackIndex;
        step.c = c;
        step.h = h;
        step.r = r;
        step.chunk = chunk;
        step.copied = readSector(trackIndex, c, h, r, n, destination + total, chunk, step);
        if (step.copied < chunk) {
            if (mode == RunMode::StopAtGap) {
                return total;
            }
            std::fill(destination + total + step.copied, destination + total + chunk, std::uint8_t{0});
        }
        total += chunk;
        given += step.copied;
        if (r != lastSector_) {
            r = wrapAdd(r, 1);
        } else {
            trackIndex = wrapAdd(trackIndex, 1);
            if (h == 0) {
                h = 1;
            } else {
                h = 0;
                c = wrapAdd(c, 1);
            }
            r = firstSector_;
        }
    }
    return mode == RunMode::StopAtGap ? total : given;
}

int D88Image::listSectorIds(int trackIndex, std::uint8_t* destination, int maxBytes) {
    const std::int64_t start = trackStart(trackIndex);
    if (start < 0) {
        return 0;
    }
    std::int64_t position = start;
    std::array<std::uint8_t, kSectorHeaderSize> header{};
    int count = 0;
    for (std::int64_t i = 0; maxBytes - count >= 4; ++i) {
        if (readAt(start, position, header.data(), kSectorHeaderSize) != kSectorHeaderSize) {
            break;
        }
        std::memcpy(destination + count, header.data(), 4);
        count += 4;
        const std::int64_t sectorCount = loadLe16(&header[kSectorCountOffset]);
        position += kSectorHeaderSize + loadLe16(&header[kDataSizeOffset]);
        if (i == sectorCount - 1) {
            break;
        }
    }
    return count;
}

}  // namespace d88
