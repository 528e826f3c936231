// The two extraction modes and the safe writing of output files.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#endif

#include "cutter/cutter.h"
#include "cutter/messages.h"
#include "image/le.h"

namespace d88cut {

bool outputFailed = false;

namespace {

constexpr int kSizeCode = 3;  // the catalogued disks have 1,024-byte sectors
constexpr int kRecordHeaderSize = 4;  // kind and length; the rest is not read
constexpr std::uint32_t kRecordKindA = 0x0041;
constexpr std::uint32_t kRecordKindB = 0x0042;
constexpr int kTemporaryAttempts = 100;

std::filesystem::path containerPath;
// The names this run has already replaced with files of its own: none of them
// is the container any more, so they need no second look. (Names are relative
// to the current directory, which stays the same for the whole run.)
std::set<std::string, std::less<>> ownNames;

void zeroBuffer(int from, int to) {
    if (to > from) {
        std::fill(SectorBuffer.begin() + from, SectorBuffer.begin() + to, std::uint8_t{0});
    }
}

// True when `name` is the container itself, by whatever path or link.
bool isContainer(const char* name) {
    if (containerPath.empty() || ownNames.contains(name)) {
        return false;
    }
    // Nothing there, nothing to compare: one look at the name suffices.
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::status(name, error)) || error) {
        return false;
    }
    return std::filesystem::equivalent(name, containerPath, error) && !error;
}

// Opens `path` for binary writing as a new file: fails rather than open a
// file that is already there.
std::FILE* createNew(const char* path) {
#ifdef _WIN32
    // msvcrt, the C runtime that MinGW programs use, does not honour the "x"
    // of an fopen mode (it opens an existing file all the same); its _open
    // creates exclusively.
    const int descriptor =
        _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (descriptor < 0) {
        return nullptr;
    }
    std::FILE* file = _fdopen(descriptor, "wb");
    if (file == nullptr) {
        (void)_close(descriptor);
    }
    return file;
#else
    return std::fopen(path, "wbx");
#endif
}

// Creates a new file beside `name` that no other file stands under, and
// gives its name in `temporaryName`. The first choice is the same every
// time, as each new name costs the system a new entry in its directory
// cache; only when it is taken (another run at work in the same folder, a
// file left behind) do random names follow.
std::FILE* createTemporary(const char* name, std::string& temporaryName) {
    temporaryName = std::string(".") + name + ".d88cut";
    if (std::FILE* file = createNew(temporaryName.c_str())) {
        return file;
    }
    static std::minstd_rand random(static_cast<std::minstd_rand::result_type>(
        std::random_device{}() ^
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())));
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        temporaryName = std::string(".") + name + ".d88cut-" + std::to_string(random() % 1000000);
        if (std::FILE* file = createNew(temporaryName.c_str())) {
            return file;
        }
    }
    return nullptr;
}

// Puts the complete temporary file under `name`, replacing what stands there
// in one step. Renaming over an existing file makes some file systems (ext4)
// write the new file out at once, to protect the file it replaces against a
// crash; that costs more than all else the tool does for a file. A file this
// run wrote itself needs no such protection: it can be cut again from the
// container. It is kept under a second name, a hard link, while the name is
// freed and the new file renamed to it, then removed; if the new file cannot
// take the name, the kept one goes back. Where there is no such second name
// (a file system without hard links, the name taken), the plain rename serves.
bool moveIntoPlace(const std::string& temporaryName, const char* name) {
    std::error_code error;
    if (ownNames.contains(name)) {
        const std::string keptName = std::string(".") + name + ".d88cut-old";
        std::filesystem::create_hard_link(name, keptName, error);
        if (!error) {
            if (!std::filesystem::remove(name, error)) {
                (void)std::filesystem::remove(keptName, error);
            } else {
                std::filesystem::rename(temporaryName, name, error);
                if (error) {
                    std::filesystem::rename(keptName, name, error);
                    return false;
                }
                (void)std::filesystem::remove(keptName, error);
                return true;
            }
        }
    }
    // Renaming replaces whatever stands under the name, a symbolic link
    // included, in one step; a directory there makes it fail.
    std::filesystem::rename(temporaryName, name, error);
    return !error;
}

bool writeReplacing(const char* name, const std::uint8_t* bytes, int length) {
    if (length < 0 || isContainer(name)) {
        return false;
    }
    std::string temporaryName;
    std::FILE* file = createTemporary(name, temporaryName);
    if (file == nullptr) {
        return false;
    }
    // The bytes are all in memory: unbuffered, they go out in one write.
    (void)std::setvbuf(file, nullptr, _IONBF, 0);
    const auto size = static_cast<std::size_t>(length);
    bool written = std::fwrite(bytes, 1, size, file) == size;
    written = std::fclose(file) == 0 && written;
    if (written) {
        written = moveIntoPlace(temporaryName, name);
        if (written && !containerPath.empty()) {
            ownNames.emplace(name);
        }
    }
    if (!written) {
        (void)std::remove(temporaryName.c_str());
    }
    return written;
}

}  // namespace

void setContainerPath(const char* path) {
    ownNames.clear();
    std::error_code error;
    containerPath = path == nullptr ? std::filesystem::path() : std::filesystem::absolute(path, error);
    if (error) {
        containerPath = path;
    }
}

bool writeOutputFile(const char* name, const std::uint8_t* bytes, int length) {
    (void)std::printf(kCuttingFormat, name);
    if (writeReplacing(name, bytes, length)) {
        return true;
    }
    (void)std::fflush(stdout);  // keep the lines in order on a shared console
    putMessage(stderr, name, kCannotWriteMessage);
    outputFailed = true;
    return false;
}

namespace {

// A catalogued file that the disk could not give at all: nothing is written.
bool fileNotRead(const char* name) {
    outputFailed = true;
    if (listOnly) {
        (void)std::printf("  %s missing\n", name);
    } else {
        (void)std::fflush(stdout);
        putMessage(stderr, name, kCannotReadMessage);
    }
    return false;
}

// A catalogued file of `length` bytes, of which the first `delivered` came
// from the disk: written, or in a listing, described.
bool fileRead(const char* name, const std::uint8_t* bytes, int length, int delivered) {
    const bool incomplete = delivered < length;
    outputFailed = outputFailed || incomplete;
    if (listOnly) {
        if (incomplete) {
            (void)std::printf("  %s %d incomplete (%d bytes read)\n", name, length, delivered);
        } else {
            (void)std::printf("  %s %d\n", name, length);
        }
        return true;
    }
    if (!writeOutputFile(name, bytes, length)) {
        return false;
    }
    if (incomplete) {
        (void)std::fflush(stdout);
        putMessage(stderr, name, kIncompleteMessage);
    }
    return true;
}

}  // namespace

// Writes `size` bytes from `offset` of the run read from (c, h, r) on. Bytes
// the run did not deliver are written as 0.
bool extractRaw(const char* name, int trackIndex, int c, int h, int r, int n, int offset,
                int size) {
    if (offset < 0 || size < 0 || size > kSectorBufferSize - offset) {
        return false;
    }
    zeroBuffer(0, offset + size);
    const int read = diskImage.readRun(trackIndex, c, h, r, n, SectorBuffer.data(), offset + size);
    if (read == 0) {
        return fileNotRead(name);
    }
    return fileRead(name, &SectorBuffer[static_cast<std::size_t>(offset)], size,
                    std::clamp(read - offset, 0, size));
}

// Writes the record that begins at `offset` of the `size` bytes read from
// (c, h, r) on, as long as its header says, header included. Only records of
// kind "A" or "B" are written; bytes the run did not deliver are written as 0.
bool extractRecord(const char* name, int trackIndex, int c, int h, int r, int offset, int size) {
    if (offset < 0 || size < 0 || size > kSectorBufferSize ||
        offset > kSectorBufferSize - (kMaxRecordLength + kRecordHeaderSize)) {
        return false;
    }
    const int zeroed = std::max(size, offset + kRecordHeaderSize);
    zeroBuffer(0, zeroed);
    const int read = diskImage.readRun(trackIndex, c, h, r, kSizeCode, SectorBuffer.data(), size);
    if (read == 0) {
        return fileNotRead(name);
    }
    const std::uint8_t* record = &SectorBuffer[static_cast<std::size_t>(offset)];
    const std::uint32_t kind = d88::loadLe16(record);
    if (kind != kRecordKindA && kind != kRecordKindB) {
        return fileNotRead(name);
    }
    const auto length = static_cast<int>(d88::loadLe16(record + 2));
    zeroBuffer(zeroed, offset + length);
    return fileRead(name, record, length, std::clamp(read - offset, 0, length));
}

void runCatalog(DiskKind kind) {
    for (const CatalogEntry& entry : catalogFor(kind)) {
        if (entry.size == 0) {
            break;
        }
        const int c = entry.trackIndex >> 1;
        const int h = entry.trackIndex & 1;
        if (entry.headered) {
            (void)extractRecord(entry.name, entry.trackIndex, c, h, entry.sector, entry.offset,
                                entry.size);
        } else {
            (void)extractRaw(entry.name, entry.trackIndex, c, h, entry.sector, kSizeCode,
                             entry.offset, entry.size);
        }
    }
}

}  // namespace d88cut
