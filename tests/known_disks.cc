#include "tests/known_disks.h"

#include <algorithm>
#include <cstring>

namespace d88test {

using d88cut::CatalogEntry;
using d88cut::DiskKind;

void putSignature(Disk& disk, char kindDigit) {
    Sector* sector = findSector(disk, 79, 5);
    std::memcpy(&sector->data.at(1008), "PRANEK.VOSKE.(", 14);
    sector->data.at(1022) = static_cast<std::uint8_t>(kindDigit);
}

void putRecord(Disk& disk, int track, int r, int offset, std::uint16_t kind, std::uint16_t length) {
    Bytes& data = findSector(disk, track, r)->data;
    putLe16(data, static_cast<std::size_t>(offset), kind);
    putLe16(data, static_cast<std::size_t>(offset) + 2, length);
}

char kindDigit(DiskKind kind) {
    switch (kind) {
        case DiskKind::ProgramDisk:
            return '0';
        case DiskKind::DiskA:
            return '1';
        case DiskKind::DiskB:
            return '2';
    }
    return '?';
}

Disk makeKnownDisk(DiskKind kind, std::uint32_t seed) {
    Disk disk = makeFiveSectorDisk(seed);
    putSignature(disk, kindDigit(kind));
    const auto catalog = d88cut::catalogFor(kind);
    for (std::size_t i = 0; i < catalog.size() && catalog[i].size != 0; ++i) {
        const CatalogEntry& entry = catalog[i];
        if (!entry.headered) {
            continue;
        }
        // Two records that share a sector share it half and half.
        const bool shared = std::any_of(catalog.begin(), catalog.end(), [&](const CatalogEntry& other) {
            return other.trackIndex == entry.trackIndex && other.sector == entry.sector &&
                   other.offset != entry.offset;
        });
        const int room = shared ? 512 : entry.size - entry.offset;
        const auto length = static_cast<std::uint16_t>(room - static_cast<int>((seed + 7 * i) % 61));
        putRecord(disk, entry.trackIndex, entry.sector, entry.offset, i % 2 == 0 ? 0x0041 : 0x0042,
                  length);
    }
    return disk;
}

std::vector<ExpectedFile> expectedFiles(const Disk& disk, DiskKind kind) {
    std::vector<ExpectedFile> files;
    for (const CatalogEntry& entry : d88cut::catalogFor(kind)) {
        if (entry.size == 0) {
            break;
        }
        Bytes run = runBytes(disk, entry.trackIndex, entry.sector, entry.offset + entry.size);
        run.erase(run.begin(), run.begin() + entry.offset);
        if (entry.headered && run.size() >= 4) {
            run.resize(static_cast<std::size_t>(run[2] | (run[3] << 8)));
        }
        files.push_back({entry.name, std::move(run)});
    }
    return files;
}

std::set<std::pair<int, int>> sectorsRead(DiskKind kind) {
    std::set<std::pair<int, int>> sectors = {{79, 5}};
    for (const CatalogEntry& entry : d88cut::catalogFor(kind)) {
        int track = entry.trackIndex;
        int r = entry.sector;
        for (int read = 0; read < entry.offset + entry.size; read += 1024) {
            sectors.insert({track, r});
            if (++r > 5) {
                r = 1;
                ++track;
            }
        }
    }
    return sectors;
}

void keepOnly(Disk& disk, const std::set<std::pair<int, int>>& keep) {
    for (std::size_t t = 0; t < disk.tracks.size(); ++t) {
        Track& track = disk.tracks[t];
        track.erase(std::remove_if(track.begin(), track.end(),
                                   [&](const Sector& sector) {
                                       return keep.count({static_cast<int>(t), sector.r}) == 0;
                                   }),
                    track.end());
    }
}

}  // namespace d88test
