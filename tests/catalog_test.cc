// The three catalogs, checked against a second copy written out by hand: a
// container built from this copy alone is cut by the built tool, and every
// file must hold exactly the bytes placed for it, under its name, in order.
// Every record here has the longest length, so that its file shows how far
// its row read: the disk's bytes up to there, 0 after.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/known_disks.h"
#include "tests/test_dir.h"

namespace d88test {
namespace {

enum Mode { kRaw, kRecord };

struct Row {
    Mode mode;
    int track;  // track index, 2 * C + H
    int sector;
    int size;  // raw: bytes written; record: bytes read
    int offset;
    const char* name;
};

struct Catalog {
    char kindDigit;
    std::vector<Row> rows;
};

// clang-format off
const Catalog kCatalogs[] = {
    {'0', {
        {kRaw, 1, 1, 20480, 0, "PROG"},
        {kRecord, 44, 5, 1024, 0, "QXGT01"},
        {kRecord, 44, 5, 1024, 512, "QXGT02"},
        {kRecord, 46, 3, 1024, 0, "FAN1"},
        {kRecord, 46, 3, 1024, 512, "FAN3"},
        {kRecord, 53, 2, 4096, 0, "QXBIG"},
        {kRecord, 54, 1, 3072, 0, "QXFIGH"},
        {kRecord, 54, 4, 2048, 0, "QXFIT2"},
        {kRecord, 55, 5, 2048, 0, "QXSHOP"},
        {kRecord, 57, 1, 9216, 0, "QXOP02"},
        {kRecord, 58, 5, 1024, 0, "QXOP01"},
        {kRecord, 59, 1, 6144, 0, "QXED01"},
        {kRecord, 60, 2, 1024, 0, "QXCONG"},
        {kRecord, 60, 3, 1024, 0, "QXMINA"},
    }},
    {'1', {
        {kRecord, 52, 1, 5120, 0, "QXBG01"},
        {kRecord, 53, 1, 5120, 0, "QXBG02"},
        {kRecord, 54, 1, 5120, 0, "QXBG03"},
        {kRecord, 55, 1, 5120, 0, "QXBG04"},
        {kRecord, 56, 1, 5120, 0, "QXBG05"},
        {kRecord, 57, 1, 5120, 0, "QXBG06"},
        {kRaw, 48, 1, 1024, 0, "EXA000"},
        {kRaw, 48, 3, 1024, 0, "EXA002"},
        {kRaw, 48, 4, 1024, 0, "EXA003"},
        {kRaw, 48, 5, 1024, 0, "EXA004"},
        {kRaw, 49, 1, 1024, 0, "EXA005"},
        {kRaw, 49, 2, 1024, 0, "EXA006"},
        {kRaw, 49, 3, 1024, 0, "EXA007"},
        {kRaw, 49, 4, 1024, 0, "EXA008"},
        {kRaw, 49, 5, 1024, 0, "EXA009"},
        {kRaw, 50, 1, 1024, 0, "EXA010"},
        {kRaw, 50, 2, 1024, 0, "EXA011"},
        {kRaw, 50, 4, 1024, 0, "EXA013"},
        {kRaw, 51, 1, 1024, 0, "EXA015"},
    }},
    {'2', {
        {kRecord, 52, 1, 5120, 0, "QXBG07"},
        {kRecord, 53, 1, 5120, 0, "QXBG08"},
        {kRecord, 54, 1, 5120, 0, "QXBG09"},
        {kRecord, 55, 1, 5120, 0, "QXBG10"},
        {kRecord, 56, 1, 5120, 0, "QXBG11"},
        {kRecord, 57, 1, 5120, 0, "QXOPBG"},
        {kRaw, 48, 1, 1024, 0, "EXB000"},
        {kRaw, 48, 4, 1024, 0, "EXB003"},
        {kRaw, 48, 5, 1024, 0, "EXB004"},
        {kRaw, 49, 2, 1024, 0, "EXB006"},
        {kRaw, 49, 3, 1024, 0, "EXB007"},
        {kRaw, 49, 4, 1024, 0, "EXB008"},
        {kRaw, 50, 1, 1024, 0, "EXB010"},
        {kRaw, 50, 2, 1024, 0, "EXB011"},
        {kRaw, 50, 4, 1024, 0, "EXB013"},
        {kRaw, 51, 1, 1024, 0, "EXB015"},
    }},
};
// clang-format on

// Byte `at` of the run of sectors from (track, r) on, five to a track side.
std::uint8_t& runByte(Disk& disk, int track, int r, int at) {
    const int step = r - 1 + at / 1024;
    return findSector(disk, track + step / 5, step % 5 + 1)
        ->data.at(static_cast<std::size_t>(at % 1024));
}

TEST(CatalogTest, CutsEveryRowFromItsPlace) {
    std::vector<Disk> disks;
    std::vector<std::pair<std::string, Bytes>> expected;
    for (const Catalog& catalog : kCatalogs) {
        Disk disk = makeFiveSectorDisk(static_cast<std::uint32_t>(catalog.kindDigit));
        putSignature(disk, catalog.kindDigit);
        for (const Row& row : catalog.rows) {
            if (row.mode == kRecord) {
                // The last byte a record's row reads and the first it does
                // not are never 0, so that a row reading one byte less or
                // more shows.
                runByte(disk, row.track, row.sector, row.size - 1) |= 1;
                runByte(disk, row.track, row.sector, row.size) |= 1;
            }
        }
        for (std::size_t i = 0; i < catalog.rows.size(); ++i) {
            const Row& row = catalog.rows[i];
            if (row.mode == kRecord) {
                putRecord(disk, row.track, row.sector, row.offset, i % 2 == 0 ? 0x0041 : 0x0042,
                          0xFFFF);
            }
        }
        for (const Row& row : catalog.rows) {
            const int read = row.mode == kRecord ? row.size : row.offset + row.size;
            Bytes bytes = runBytes(disk, row.track, row.sector, read);
            ASSERT_EQ(bytes.size(), static_cast<std::size_t>(read)) << row.name;
            bytes.erase(bytes.begin(), bytes.begin() + row.offset);
            bytes.resize(row.mode == kRecord ? 0xFFFF : static_cast<std::size_t>(row.size), 0);
            expected.emplace_back(row.name, std::move(bytes));
        }
        disks.push_back(std::move(disk));
    }
    ASSERT_EQ(expected.size(), 49u);

    ScopedTempDir dir;
    ASSERT_TRUE(writeFile((dir / "c.d88").string(), buildContainer(disks)));
    const RunResult result = runTool(dir.path(), {"c.d88"});

    std::string cutting;  // the "cutting" lines only, whatever else is printed
    std::istringstream out(result.out);
    for (std::string line; std::getline(out, line);) {
        if (line.starts_with("cutting ... ")) {
            cutting += line + "\n";
        }
    }
    std::string lines;
    std::vector<std::string> names = {"c.d88"};
    for (const auto& [name, bytes] : expected) {
        SCOPED_TRACE(name);
        lines += "cutting ... " + name + "\n";
        names.push_back(name);
        EXPECT_EQ(readFile((dir / name).string()), bytes);
    }
    EXPECT_EQ(cutting, lines);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(listDir(dir.path()), names);
}

}  // namespace
}  // namespace d88test
