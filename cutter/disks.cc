// The container and its disks: opening the container, identifying each disk
// image, and the loop that hands every known disk to its catalog, for a cut
// and for a listing alike. What it learns goes to the printers.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "cutter/cutter.h"
#include "cutter/messages.h"

namespace d88cut {

std::array<std::uint8_t, kSectorBufferSize> SectorBuffer{};
d88::D88Image diskImage;

namespace {

// The identification sector: the last of the five sectors on track side 79.
constexpr int kIdTrackIndex = 79;
constexpr int kIdCylinder = 39;
constexpr int kIdHead = 1;
constexpr int kIdSector = 5;
constexpr int kSizeCode = 3;
constexpr int kSectorSize = 128 << kSizeCode;
constexpr int kFirstSector = 1;
constexpr int kLastSector = 5;
constexpr char kSignature[] = "PRANEK.VOSKE.(";
constexpr int kSignatureOffset = 1008;
constexpr int kSignatureSize = sizeof(kSignature) - 1;
constexpr int kKindDigitOffset = 1022;
static_assert(kSignatureOffset + kSignatureSize == kKindDigitOffset);

struct KnownDisk {
    char digit;
    DiskKind kind;
    const Message& message;
    const char* name;  // in the listing
};

constexpr KnownDisk kKnownDisks[] = {
    {'0', DiskKind::ProgramDisk, kProgramDiskMessage, "PROGRAM DISK"},
    {'1', DiskKind::DiskA, kDiskAMessage, "DISK A"},
    {'2', DiskKind::DiskB, kDiskBMessage, "DISK B"},
};
static_assert(kKnownDisks[1].kind == DiskKind::DiskA && kKnownDisks[2].kind == DiskKind::DiskB,
              "the known disks in the order of their kinds");

// The known disk that the current disk is, or nullptr. The whole
// identification sector must be read: a shorter read leaves earlier bytes in
// the buffer, which must not pass for a signature. How the drive read it
// plays no part.
const KnownDisk* identifyCurrentDisk() {
    if (diskImage.readRun(kIdTrackIndex, kIdCylinder, kIdHead, kIdSector, kSizeCode,
                          SectorBuffer.data(), kSectorSize) != kSectorSize) {
        return nullptr;
    }
    if (std::memcmp(&SectorBuffer[kSignatureOffset], kSignature, kSignatureSize) != 0) {
        return nullptr;
    }
    for (const KnownDisk& known : kKnownDisks) {
        if (SectorBuffer[kKindDigitOffset] == static_cast<std::uint8_t>(known.digit)) {
            return &known;
        }
    }
    return nullptr;
}

// Selects the `index`-th disk image: the known disk that it is, or nullptr.
const KnownDisk* selectKnownDisk(int index) {
    (void)diskImage.selectDisk(index);
    diskImage.setSectorRange(kFirstSector, kLastSector);
    return identifyCurrentDisk();
}

// A byte as it is when it is printable ASCII from `lowest` on, else as \xHH.
std::string shownByte(std::uint8_t byte, std::uint8_t lowest) {
    if (byte >= lowest && byte <= 0x7E) {
        return std::string(1, static_cast<char>(byte));
    }
    char escaped[8];
    (void)std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(byte));
    return escaped;
}

// Why the current disk is not one of the known disks: the first step of
// the identification that fails, told by the reader's own lookups, in words
// and as a code for programs.
void whyNotRecognised(DiskReport& disk) {
    if (!diskImage.hasTrack(kIdTrackIndex)) {
        disk.reason = "no track side 79";
        disk.reasonCode = "no_track";
        return;
    }
    if (!diskImage.hasSector(kIdTrackIndex, kIdCylinder, kIdHead, kIdSector, kSizeCode)) {
        disk.reason = "no sector C39 H1 R5 N3 on track side 79";
        disk.reasonCode = "no_sector";
        return;
    }
    const int copied = diskImage.readSector(kIdTrackIndex, kIdCylinder, kIdHead, kIdSector,
                                            kSizeCode, SectorBuffer.data(), kSectorSize);
    if (copied < kSectorSize) {
        disk.reason = "sector C39 H1 R5 N3 holds " + std::to_string(copied) + " bytes";
        disk.reasonCode = "short_sector";
        disk.reasonValue = copied;
        return;
    }
    if (std::memcmp(&SectorBuffer[kSignatureOffset], kSignature, kSignatureSize) != 0) {
        disk.reason = "no signature";
        disk.reasonCode = "no_signature";
        return;
    }
    disk.reason = "unknown disk number " + shownByte(SectorBuffer[kKindDigitOffset], 0x21);
    disk.reasonCode = "unknown_number";
    disk.reasonValue = SectorBuffer[kKindDigitOffset];
}

// Why the container at `path` could not be opened, in `language`.
std::string whyNotOpened(const char* path, Language language) {
    if (const int error = diskImage.systemError(); error != 0) {
        return systemWords(error, language);
    }
    std::error_code ignored;
    switch (std::filesystem::status(pathOf(path), ignored).type()) {
        case std::filesystem::file_type::directory:
            return words(language, "why.is-directory");
        case std::filesystem::file_type::fifo:
            return words(language, "why.is-pipe");
        case std::filesystem::file_type::socket:
            return words(language, "why.is-socket");
        default:
            return words(language, "why.cannot-be-read");
    }
}

// True when the identification read of the current disk, the latest run,
// ran into the end of the file: a sector header or the sector's data could
// not be read whole because the file ended.
bool idReadRanIntoFileEnd() {
    const std::span<const d88::RunStep> steps = diskImage.lastRun();
    if (steps.empty()) {
        return false;
    }
    const d88::RunStep& step = steps.front();
    return step.miss == d88::Miss::PastFileEnd ||
           (step.miss == d88::Miss::None && step.copied < std::min(step.dataSize, step.chunk));
}

// Selects the `index`-th disk image and tells what it is. `fileSize` is the
// container's length, asked here where it is needed and not yet known (-2).
DiskReport examineDisk(Run& run, int index, std::int64_t& fileSize, const KnownDisk*& known) {
    known = selectKnownDisk(index);
    DiskReport disk;
    disk.number = index + 1;
    disk.offset = diskImage.diskOffset();
    disk.statedSize = diskImage.statedDiskSize();
    disk.readsToEnd = diskImage.readsToEnd();
    disk.readSize = diskImage.diskSize();
    disk.name = diskImage.diskName();
    disk.media = diskImage.mediaType();
    disk.writeProtected = diskImage.writeProtected();
    // A disk cut off before its identification sector may be any disk: its
    // loss is a failure of the run.
    const bool ranIntoEnd = known == nullptr && idReadRanIntoFileEnd();
    if (ranIntoEnd && fileSize == -2) {
        fileSize = diskImage.fileSize();
    }
    if (fileSize >= 0 && disk.offset >= 0 && disk.offset + disk.statedSize > fileSize) {
        disk.truncatedAt = fileSize - disk.offset;
        disk.endsBeforeId = ranIntoEnd;
    }
    bool failed = containerReadFailed(run);
    if (!failed && known == nullptr && !disk.endsBeforeId && (run.listing() || run.verbose)) {
        whyNotRecognised(disk);
        failed = containerReadFailed(run);
    }
    if (failed) {
        known = nullptr;
        disk.endsBeforeId = false;
        disk.reason = "read error";
        disk.reasonCode = "read_error";
        disk.reasonValue = -1;
    } else if (disk.endsBeforeId) {
        disk.reason = "the file ends before its identification sector";
        disk.reasonCode = "ends_before_identification";
        run.failed = true;
        run.runFailed = true;
    }
    if (known != nullptr) {
        disk.known = known->name;
        disk.message = &known->message;
    }
    return disk;
}

// Cuts or lists the disks of the open container, `fileSize` bytes long
// (-2 where that is not asked yet).
void runDisks(Run& run, std::int64_t fileSize) {
    const int count = diskImage.diskCount();
    if (count == 0 && fileSize >= 0 && fileSize < d88::kDiskHeaderSize) {
        printNote(run, {NoteKind::NoDiskImage, fileSize, ""});
    }
    for (int i = 0; i < count; ++i) {
        if (interrupted()) {
            endInterrupted();
        }
        const KnownDisk* known = nullptr;
        const DiskReport disk = examineDisk(run, i, fileSize, known);
        run.disk = disk.number;
        ++run.tally.disks;
        printDisk(run, disk);
        if (known != nullptr) {
            run.knownDisk = true;
            ++run.tally.knownDisks;
            runCatalog(run, known->kind);
        }
        printDiskEnd(run, disk);
        if (i + 1 == d88::kMaxDisks && diskImage.disksBeyondLimit()) {
            printNote(run, {NoteKind::DisksBeyondLimit, -1, ""});
        }
    }
}

}  // namespace

bool identifyDisk(int index, DiskKind& kind) {
    const KnownDisk* known = selectKnownDisk(index);
    if (known != nullptr) {
        kind = known->kind;
    }
    return known != nullptr;
}

const Message& recognitionOf(DiskKind kind) { return kKnownDisks[static_cast<int>(kind)].message; }

bool nothingNamed(const char* path) {
    std::error_code error;
    return std::filesystem::symlink_status(pathOf(path), error).type() ==
           std::filesystem::file_type::not_found;
}

Screen Run::screen(std::FILE* stream) {
    std::optional<Screen>& known = screens[stream == stderr ? 1 : 0];
    if (!known) {
        known = screenOf(stream);
    }
    return *known;
}

bool Run::showsText(std::FILE* stream) {
    const Screen shown = screen(stream);
    return shown == Screen::Console || (shown == Screen::Utf8Terminal && encoding != Encoding::ShiftJis);
}

bool Run::writesUtf8(std::FILE* stream) {
    return encoding == Encoding::Utf8 ||
           (encoding == Encoding::Auto && screen(stream) == Screen::Utf8Terminal);
}

const Kept* Run::wrote(std::string_view name) const {
    const auto found = names.find(name);
    return !listing() && found != names.end() && found->second.state != FileState::Missing
               ? &found->second
               : nullptr;
}

int Run::status() const {
    const auto allWhole = [](const Names& held) {
        return std::all_of(held.begin(), held.end(),
                           [](const auto& name) { return name.second.state == FileState::Whole; });
    };
    bool whole = allWhole(names);
    for (const auto& [path, held] : otherFolders) {
        whole = whole && allWhole(held);
    }
    return runFailed || !whole ? 1 : 0;
}

const char* knownDiskName(DiskKind kind) { return kKnownDisks[static_cast<int>(kind)].name; }

bool containerReadFailed(Run& run) {
    const int error = diskImage.systemError();
    if (error == 0) {
        return false;
    }
    diskImage.clearSystemError();
    run.failed = true;
    run.runFailed = true;
    if (!run.containerReadReported) {
        run.containerReadReported = true;
        (void)std::fflush(stdout);
        putMessage(run, stderr, run.containerPath.c_str(), kCannotReadMessage);
        explain(run, run.containerPath, systemWords(error, run.language(stderr)));
        printNote(run, {NoteKind::ReadError, -1, systemWords(error)});
    }
    return true;
}

int runContainer(Run& run, const char* path, const char* openPath, const char* directory,
                 bool mayBeOption) {
    run.containerPath = path;
    run.containerReadReported = false;
    run.failed = false;
    run.containerNames.clear();
    run.tally = {};
    run.disk = 0;
    // The container's identity is taken at once, so that no output name can
    // ever stand for it; where the system cannot tell it, nothing is cut. A
    // listing writes nowhere, so it needs none.
    FileIdentity identity;
    if (!openContainer(diskImage, openPath) ||
        (!run.listing() && !identify(diskImage.file(), identity))) {
        const int error = diskImage.file() != nullptr ? errno : -1;
        const auto why = [&](Language language) {
            return error >= 0 ? systemWords(error, language) : whyNotOpened(openPath, language);
        };
        (void)diskImage.open(nullptr);
        run.runFailed = true;
        printContainer(run, -1);
        putMessage(run, stderr, nullptr, kCannotOpenMessage);
        explain(run, path, why(run.language(stderr)));
        if (mayBeOption && run.toPerson() && nothingNamed(path)) {
            const Language language = run.language(stderr);
            tell(run, "d88cut: " + words(language, "hint.unknown-option", {{"option", path}}) +
                          "\n" + words(language, "hint.try-help") + "\n");
        }
        printNote(run, {NoteKind::CannotOpen, -1, why(Language::English)});
        printContainerEnd(run, 1);
        return 1;
    }
    run.containerFiles.push_back(identity);
    // Where the disks are said to run past the end of the file: a listing
    // and a person are told.
    const std::int64_t fileSize =
        run.listing() || run.verbose || run.toPerson() ? diskImage.fileSize() : -2;
    printContainer(run, fileSize >= 0 ? fileSize : -1);
    (void)containerReadFailed(run);  // in the scan of its disk headers
    // The output folder is entered once, after the first container that
    // opens; a listing enters none.
    if (directory != nullptr && !run.listing() && run.directoryEntered != directory) {
        if (!enterDirectory(directory)) {
            const int error = errno;
            putMessage(run, stderr, directory, kCannotEnterMessage);
            explain(run, directory, systemWords(error, run.language(stderr)));
            run.runFailed = true;
            return -1;
        }
        run.directoryEntered = directory;
    }
    ++run.containersCut;
    run.containers.push_back(run.containerPath);
    runDisks(run, fileSize);
    if (!run.listing()) {
        if (interrupted()) {
            endInterrupted();
        }
        removeLeftovers(run);
    }
    // Its own status: as a run of it alone would end.
    const bool whole = std::all_of(run.containerNames.begin(), run.containerNames.end(),
                                   [](const auto& name) { return name.second.state == FileState::Whole; });
    const int status = run.failed || (run.mode == Mode::Json && !whole) ? 1 : 0;
    printContainerEnd(run, status);
    return status;
}

}  // namespace d88cut
