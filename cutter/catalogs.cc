// The files cut out of each known disk. Positions assume five 1,024-byte
// sectors (1..5) per track side; track index = 2 * cylinder + head.
#include <array>

#include "cutter/cutter.h"

namespace d88cut {

namespace {

constexpr bool kRaw = false;
constexpr bool kHeadered = true;

// mode, track index, sector, size, offset, name
constexpr std::array kProgramDiskCatalog = {
    CatalogEntry{kRaw, 1, 1, 20480, 0, "PROG"},
    CatalogEntry{kHeadered, 44, 5, 1024, 0, "QXGT01"},
    CatalogEntry{kHeadered, 44, 5, 1024, 512, "QXGT02"},
    CatalogEntry{kHeadered, 46, 3, 1024, 0, "FAN1"},
    CatalogEntry{kHeadered, 46, 3, 1024, 512, "FAN3"},
    CatalogEntry{kHeadered, 53, 2, 4096, 0, "QXBIG"},
    CatalogEntry{kHeadered, 54, 1, 3072, 0, "QXFIGH"},
    CatalogEntry{kHeadered, 54, 4, 2048, 0, "QXFIT2"},
    CatalogEntry{kHeadered, 55, 5, 2048, 0, "QXSHOP"},
    CatalogEntry{kHeadered, 57, 1, 9216, 0, "QXOP02"},
    CatalogEntry{kHeadered, 58, 5, 1024, 0, "QXOP01"},
    CatalogEntry{kHeadered, 59, 1, 6144, 0, "QXED01"},
    CatalogEntry{kHeadered, 60, 2, 1024, 0, "QXCONG"},
    CatalogEntry{kHeadered, 60, 3, 1024, 0, "QXMINA"},
    CatalogEntry{kRaw, 0, 0, 0, 0, ""},
};

constexpr std::array kDiskACatalog = {
    CatalogEntry{kHeadered, 52, 1, 5120, 0, "QXBG01"},
    CatalogEntry{kHeadered, 53, 1, 5120, 0, "QXBG02"},
    CatalogEntry{kHeadered, 54, 1, 5120, 0, "QXBG03"},
    CatalogEntry{kHeadered, 55, 1, 5120, 0, "QXBG04"},
    CatalogEntry{kHeadered, 56, 1, 5120, 0, "QXBG05"},
    CatalogEntry{kHeadered, 57, 1, 5120, 0, "QXBG06"},
    CatalogEntry{kRaw, 48, 1, 1024, 0, "EXA000"},
    CatalogEntry{kRaw, 48, 3, 1024, 0, "EXA002"},
    CatalogEntry{kRaw, 48, 4, 1024, 0, "EXA003"},
    CatalogEntry{kRaw, 48, 5, 1024, 0, "EXA004"},
    CatalogEntry{kRaw, 49, 1, 1024, 0, "EXA005"},
    CatalogEntry{kRaw, 49, 2, 1024, 0, "EXA006"},
    CatalogEntry{kRaw, 49, 3, 1024, 0, "EXA007"},
    CatalogEntry{kRaw, 49, 4, 1024, 0, "EXA008"},
    CatalogEntry{kRaw, 49, 5, 1024, 0, "EXA009"},
    CatalogEntry{kRaw, 50, 1, 1024, 0, "EXA010"},
    CatalogEntry{kRaw, 50, 2, 1024, 0, "EXA011"},
    CatalogEntry{kRaw, 50, 4, 1024, 0, "EXA013"},
    CatalogEntry{kRaw, 51, 1, 1024, 0, "EXA015"},
    CatalogEntry{kRaw, 0, 0, 0, 0, ""},
};

constexpr std::array kDiskBCatalog = {
    CatalogEntry{kHeadered, 52, 1, 5120, 0, "QXBG07"},
    CatalogEntry{kHeadered, 53, 1, 5120, 0, "QXBG08"},
    CatalogEntry{kHeadered, 54, 1, 5120, 0, "QXBG09"},
    CatalogEntry{kHeadered, 55, 1, 5120, 0, "QXBG10"},
    CatalogEntry{kHeadered, 56, 1, 5120, 0, "QXBG11"},
    CatalogEntry{kHeadered, 57, 1, 5120, 0, "QXOPBG"},
    CatalogEntry{kRaw, 48, 1, 1024, 0, "EXB000"},
    CatalogEntry{kRaw, 48, 4, 1024, 0, "EXB003"},
    CatalogEntry{kRaw, 48, 5, 1024, 0, "EXB004"},
    CatalogEntry{kRaw, 49, 2, 1024, 0, "EXB006"},
    CatalogEntry{kRaw, 49, 3, 1024, 0, "EXB007"},
    CatalogEntry{kRaw, 49, 4, 1024, 0, "EXB008"},
    CatalogEntry{kRaw, 50, 1, 1024, 0, "EXB010"},
    CatalogEntry{kRaw, 50, 2, 1024, 0, "EXB011"},
    CatalogEntry{kRaw, 50, 4, 1024, 0, "EXB013"},
    CatalogEntry{kRaw, 51, 1, 1024, 0, "EXB015"},
    CatalogEntry{kRaw, 0, 0, 0, 0, ""},
};

// Every row's bytes lie inside the sector buffer, and each catalog ends with
// its zero-size row.
template <std::size_t N>
constexpr bool fitsSectorBuffer(const std::array<CatalogEntry, N>& catalog) {
    for (const CatalogEntry& entry : catalog) {
        const std::int32_t end = entry.headered ? entry.offset + 4 + kMaxRecordLength
                                                : entry.offset + entry.size;
        if (entry.offset < 0 || entry.size < 0 || entry.size > kSectorBufferSize ||
            end > kSectorBufferSize) {
            return false;
        }
    }
    return catalog.back().size == 0;
}
static_assert(fitsSectorBuffer(kProgramDiskCatalog));
static_assert(fitsSectorBuffer(kDiskACatalog));
static_assert(fitsSectorBuffer(kDiskBCatalog));

}  // namespace

std::span<const CatalogEntry> catalogFor(DiskKind kind) {
    switch (kind) {
        case DiskKind::ProgramDisk:
            return kProgramDiskCatalog;
        case DiskKind::DiskA:
            return kDiskACatalog;
        case DiskKind::DiskB:
            return kDiskBCatalog;
    }
    return {};
}

}  // namespace d88cut
