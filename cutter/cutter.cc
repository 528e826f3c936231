#include "cutter/cutter.h"

#include <cstdio>
#include <cstring>

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
    const char* message;
};

constexpr KnownDisk kKnownDisks[] = {
    {'0', DiskKind::ProgramDisk, kProgramDiskMessage},
    {'1', DiskKind::DiskA, kDiskAMessage},
    {'2', DiskKind::DiskB, kDiskBMessage},
};

// The known disk that the current disk is, or nullptr. The whole
// identification sector must be read: a shorter read leaves earlier bytes in
// the buffer, which must not pass for a signature.
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

}  // namespace

int runCutter(int argc, const char* const* argv) {
    if (argc != 2) {
        const char* program = (argc > 0 && argv[0] != nullptr) ? argv[0] : "d88cut";
        (void)std::fprintf(stderr, kUsageFormat, program);
        return 1;
    }
    if (!diskImage.open(argv[1])) {
        (void)std::fputs(kCannotOpenMessage, stderr);
        return 1;
    }
    setContainerPath(argv[1]);
    const int count = diskImage.diskCount();
    for (int i = 0; i < count; ++i) {
        (void)diskImage.selectDisk(i);
        diskImage.setSectorRange(kFirstSector, kLastSector);
        if (const KnownDisk* known = identifyCurrentDisk()) {
            (void)std::fputs(known->message, stdout);
            runCatalog(known->kind);
        }
    }
    // Progress lines that could not be written (a full disk behind a
    // redirection, say) make the run a failure too.
    const bool progressLost = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    return outputFailed || progressLost ? 1 : 0;
}

}  // namespace d88cut
