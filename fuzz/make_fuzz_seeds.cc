// Writes the fuzz target's seed inputs into a directory: small containers of
// each known disk, intact and damaged in the ways real images are, made by
// the project's D88 writer. Most are a few KiB: they hold only the sectors
// that the identification and the catalogs read.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz/next_container.h"
#include "tests/known_disks.h"

namespace {

using d88cut::DiskKind;
using d88test::Bytes;
using d88test::Disk;

// A disk of the kind whose records are short enough to lie in their first
// sector, so that each is cut whole from that sector alone.
Disk shortRecordDisk(DiskKind kind, std::uint32_t seed) {
    Disk disk = d88test::makeKnownDisk(kind, seed);
    for (const d88cut::CatalogEntry& entry : d88cut::catalogFor(kind)) {
        if (entry.size != 0 && entry.headered) {
            const Bytes& data = d88test::findSector(disk, entry.trackIndex, entry.sector)->data;
            const auto at = static_cast<std::size_t>(entry.offset);
            const auto recordKind = static_cast<std::uint16_t>(data[at] | (data[at + 1] << 8));
            d88test::putRecord(disk, entry.trackIndex, entry.sector, entry.offset, recordKind,
                               static_cast<std::uint16_t>(400 + entry.trackIndex));
        }
    }
    return disk;
}

// The identification sector and the first sector of every catalog row (and
// the sector after QXSHOP's, so that a run crosses a track side): every file
// is cut whole, except raw rows longer than a sector.
Disk compactDisk(DiskKind kind, std::uint32_t seed) {
    Disk disk = shortRecordDisk(kind, seed);
    std::set<std::pair<int, int>> keep = {{79, 5}, {56, 1}};
    for (const d88cut::CatalogEntry& entry : d88cut::catalogFor(kind)) {
        keep.insert({entry.trackIndex, entry.sector});
    }
    d88test::keepOnly(disk, keep);
    return disk;
}

// The disks as containers of one run: each its own, or, with `emptyAfter`,
// the first followed by an empty one.
Bytes joined(const std::vector<Disk>& disks, bool emptyAfter = false) {
    Bytes bytes;
    for (std::size_t i = 0; i < disks.size() + (emptyAfter ? 1 : 0); ++i) {
        if (i > 0) {
            bytes.insert(bytes.end(), d88fuzz::kNextContainer.begin(), d88fuzz::kNextContainer.end());
        }
        const Bytes container = i < disks.size() ? d88test::buildContainer({disks[i]}) : Bytes();
        bytes.insert(bytes.end(), container.begin(), container.end());
    }
    return bytes;
}

// The disk of the kind with only its identification sector.
Disk idOnlyDisk(DiskKind kind, std::uint32_t seed) {
    Disk disk = d88test::makeKnownDisk(kind, seed);
    d88test::keepOnly(disk, {{79, 5}});
    return disk;
}

// The identification sector plus a few sectors of the catalog: two records
// sharing a sector, a record whose run crosses to the next track side and
// the first sector of a raw row (program disk); one record and one raw
// sector (disks A and B).
Disk smallDisk(DiskKind kind, std::uint32_t seed) {
    Disk disk = shortRecordDisk(kind, seed);
    if (kind == DiskKind::ProgramDisk) {
        d88test::keepOnly(disk, {{79, 5}, {44, 5}, {55, 5}, {56, 1}, {1, 1}});
    } else {
        d88test::keepOnly(disk, {{79, 5}, {52, 1}, {48, 1}});
    }
    return disk;
}

// Offset of the first sector header of a track in the built bytes of a disk.
std::size_t trackOffset(const Bytes& bytes, std::size_t track) {
    const std::size_t at = 0x20 + 4 * track;
    return static_cast<std::size_t>(bytes.at(at) | (bytes.at(at + 1) << 8) |
                                    (bytes.at(at + 2) << 16) | (bytes.at(at + 3) << 24));
}

// The small program disk with the sector (track, r) read as the drive's
// `status` says.
Bytes flaggedDisk(std::uint8_t status, int track, int r) {
    Disk disk = smallDisk(DiskKind::ProgramDisk, 30u + status / 16u);
    d88test::findSector(disk, track, r)->status = status;
    return d88test::buildDisk(disk);
}

struct Seed {
    const char* name;
    std::function<Bytes()> make;
};

std::vector<Seed> seeds() {
    using d88test::buildContainer;
    using d88test::buildDisk;
    return {
        // Intact.
        {"compact-program-disk", [] { return buildDisk(compactDisk(DiskKind::ProgramDisk, 1)); }},
        {"compact-disk-a", [] { return buildDisk(compactDisk(DiskKind::DiskA, 2)); }},
        {"compact-disk-b", [] { return buildDisk(compactDisk(DiskKind::DiskB, 3)); }},
        {"small-program-disk", [] { return buildDisk(smallDisk(DiskKind::ProgramDisk, 4)); }},
        {"small-disk-a", [] { return buildDisk(smallDisk(DiskKind::DiskA, 5)); }},
        {"small-disk-b", [] { return buildDisk(smallDisk(DiskKind::DiskB, 6)); }},
        {"three-disks",
         [] {
             return buildContainer({idOnlyDisk(DiskKind::ProgramDisk, 7),
                                    idOnlyDisk(DiskKind::DiskA, 8),
                                    idOnlyDisk(DiskKind::DiskB, 9)});
         }},
        {"same-disk-twice",
         [] {
             return buildContainer(
                 {smallDisk(DiskKind::DiskA, 10), smallDisk(DiskKind::DiskA, 11)});
         }},
        // Not recognised.
        {"empty", [] { return Bytes{}; }},
        {"header-only",
         [] {
             Bytes bytes = buildDisk(smallDisk(DiskKind::DiskA, 12));
             d88test::truncateTo(bytes, 0x2B0);
             return bytes;
         }},
        {"kind-digit-3",
         [] {
             Disk disk = idOnlyDisk(DiskKind::DiskB, 13);
             d88test::putSignature(disk, '3');
             return buildDisk(disk);
         }},
        {"signature-off-by-one-byte",
         [] {
             Disk disk = idOnlyDisk(DiskKind::DiskA, 14);
             d88test::findSector(disk, 79, 5)->data[1010] ^= 1;
             return buildDisk(disk);
         }},
        {"id-sector-short",
         [] {
             Disk disk = idOnlyDisk(DiskKind::DiskA, 15);
             d88test::findSector(disk, 79, 5)->data.resize(1023);
             return buildDisk(disk);
         }},
        {"id-sector-other-size-code",
         [] {
             Disk disk = idOnlyDisk(DiskKind::ProgramDisk, 16);
             d88test::findSector(disk, 79, 5)->n = 2;
             return buildDisk(disk);
         }},
        {"id-sector-past-the-count",
         [] {
             // Track 79 holds R 1..5, but every header counts only 2 sectors.
             Disk disk = d88test::makeKnownDisk(DiskKind::DiskA, 17);
             d88test::keepOnly(disk, {{79, 1}, {79, 2}, {79, 3}, {79, 4}, {79, 5}});
             for (d88test::Sector& sector : disk.tracks[79]) {
                 sector.sectorCount = 2;
             }
             return buildDisk(disk);
         }},
        // Damaged.
        {"sector-count-0",
         [] {
             Disk disk = smallDisk(DiskKind::DiskA, 18);
             disk.tracks[79][0].sectorCount = 0;
             return buildDisk(disk);
         }},
        {"data-size-past-the-end",
         [] {
             Disk disk = smallDisk(DiskKind::DiskB, 19);
             disk.tracks[79].back().dataSize = 0xFFFF;
             return buildDisk(disk);
         }},
        {"data-size-0",
         [] {
             Disk disk = smallDisk(DiskKind::DiskA, 20);
             d88test::findSector(disk, 48, 1)->dataSize = 0;
             return buildDisk(disk);
         }},
        {"sector-of-another-cylinder",
         [] {
             Disk disk = smallDisk(DiskKind::DiskA, 21);
             d88test::findSector(disk, 48, 1)->c = 0;
             return buildDisk(disk);
         }},
        {"track-past-the-disk-size",
         [] {
             Disk disk = smallDisk(DiskKind::DiskB, 22);
             disk.diskSize = 0x2B0 + 100;
             return buildDisk(disk);
         }},
        {"disk-size-0",
         [] {
             Disk disk = idOnlyDisk(DiskKind::DiskA, 23);
             disk.diskSize = 0;
             return buildDisk(disk);
         }},
        {"disk-size-negative",
         [] {
             Disk first = idOnlyDisk(DiskKind::DiskA, 24);
             first.diskSize = 0x80000000u;
             return buildContainer({first, idOnlyDisk(DiskKind::DiskB, 25)});
         }},
        {"one-track-for-all",
         [] {
             // Every sector in one track that every table entry points at.
             Disk disk = smallDisk(DiskKind::DiskA, 26);
             d88test::Track all;
             for (d88test::Track& track : disk.tracks) {
                 all.insert(all.end(), track.begin(), track.end());
                 track.clear();
             }
             disk.tracks[0] = all;
             Bytes bytes = buildDisk(disk);
             const auto first = static_cast<std::uint32_t>(trackOffset(bytes, 0));
             for (std::size_t t = 0; t < 164; ++t) {
                 d88test::putLe32(bytes, 0x20 + 4 * t, first);
             }
             return bytes;
         }},
        {"record-of-another-kind",
         [] {
             Disk disk = smallDisk(DiskKind::DiskB, 27);
             d88test::putRecord(disk, 52, 1, 0, 0x4100, 300);
             return buildDisk(disk);
         }},
        {"record-longest",
         [] {
             Disk disk = smallDisk(DiskKind::ProgramDisk, 28);
             d88test::putRecord(disk, 44, 5, 512, 0x0042, 0xFFFF);
             return buildDisk(disk);
         }},
        // Sectors that the drive flagged (and one it read as deleted data),
        // and two reads of one disk, the first damaged, then the second.
        {"flagged-id-crc-error", [] { return flaggedDisk(0xA0, 1, 1); }},
        {"flagged-data-crc-error", [] { return flaggedDisk(0xB0, 44, 5); }},
        {"flagged-no-address-mark", [] { return flaggedDisk(0xE0, 56, 1); }},
        {"flagged-no-data-mark", [] { return flaggedDisk(0xF0, 79, 5); }},
        {"deleted-data", [] { return flaggedDisk(0x10, 55, 5); }},
        {"same-disk-twice-damaged-first",
         [] {
             Disk damaged = compactDisk(DiskKind::DiskB, 31);
             d88test::findSector(damaged, 52, 1)->status = 0xB0;
             d88test::findSector(damaged, 48, 4)->data.resize(600);
             return buildContainer({damaged, compactDisk(DiskKind::DiskB, 32)});
         }},
        {"same-disk-twice-damaged-last",
         [] {
             Disk damaged = compactDisk(DiskKind::DiskA, 33);
             d88test::findSector(damaged, 49, 1)->status = 0xF0;
             damaged.tracks[53].clear();
             return buildContainer({compactDisk(DiskKind::DiskA, 34), damaged});
         }},
        // Two reads of one disk as two containers of one run, each failing
        // somewhere else: merged, they give every file whole.
        {"two-reads-merged",
         [] {
             Disk first = compactDisk(DiskKind::ProgramDisk, 35);
             Disk second = first;
             d88test::findSector(first, 44, 5)->status = 0xB0;
             d88test::findSector(second, 1, 1)->data.resize(300);
             d88test::findSector(second, 46, 3)->status = 0xF0;
             return joined({first, second});
         }},
        {"two-containers-the-second-empty",
         [] { return joined({compactDisk(DiskKind::DiskA, 36)}, true); }},
        {"cut-inside-a-sector",
         [] {
             Bytes bytes = buildDisk(smallDisk(DiskKind::ProgramDisk, 29));
             d88test::truncateTo(bytes, trackOffset(bytes, 79) + 16 + 1000);
             return bytes;
         }},
    };
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argc > 0 ? argv[0] : "make_fuzz_seeds");
        return 1;
    }
    namespace fs = std::filesystem;
    const fs::path dir = argv[1];
    std::error_code error;
    fs::remove_all(dir, error);
    fs::create_directories(dir, error);
    if (error) {
        std::fprintf(stderr, "%s: cannot create\n", argv[1]);
        return 1;
    }
    for (const Seed& seed : seeds()) {
        const fs::path path = dir / (std::string(seed.name) + ".d88");
        if (!d88test::writeFile(path.string(), seed.make())) {
            std::fprintf(stderr, "%s: cannot write\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
