// The container reader: scanning, selecting disks and reading sectors, on
// containers built in memory and on real disk images.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include "image/d88_image.h"
#include "image/le.h"
#include "tests/d88_writer.h"
#include "tests/test_dir.h"

namespace d88test {
namespace {

using d88::D88Image;

// A small disk: track sides 0..3 of five 1,024-byte sectors.
Disk smallDisk(std::uint32_t seed = 1) { return makeFiveSectorDisk(seed, 4); }

class ImageTest : public ::testing::Test {
protected:
    // Writes the bytes as a container and opens it.
    void openBytes(const Bytes& bytes) {
        const std::string path = (dir_ / "c.d88").string();
        ASSERT_TRUE(writeFile(path, bytes));
        ASSERT_TRUE(image_.open(path.c_str()));
    }
    void openDisk(const Disk& disk) {
        openBytes(buildDisk(disk));
        ASSERT_TRUE(image_.selectDisk(0));
        image_.setSectorRange(1, 5);
    }

    ScopedTempDir dir_;
    D88Image image_;
    std::array<std::uint8_t, 32768> buffer_{};
};

TEST_F(ImageTest, ScanCountsDiskImages) {
    const Bytes one = buildDisk(smallDisk());
    Bytes headerOnly = one;
    truncateTo(headerOnly, 0x2B0);
    Bytes sizeZero = one;
    putLe32(sizeZero, 0x1C, 0);
    Bytes negativeSize = buildContainer({smallDisk(1), smallDisk(2)});
    putLe32(negativeSize, 0x1C, 0x80000000u);
    std::vector<Disk> many(65, smallDisk());
    const std::vector<Disk> sixtyFour(64, smallDisk());
    struct Case {
        const char* name;
        Bytes bytes;
        int count;
        bool beyond = false;  // a whole header follows the 64th
    } cases[] = {
        {"empty", {}, 0},
        {"shorter than a header", Bytes(0x2AF, 0), 0},
        {"header only", headerOnly, 1},
        {"three disks", buildContainer({smallDisk(1), smallDisk(2), smallDisk(3)}), 3},
        {"cut inside the last disk", Bytes(one.begin(), one.end() - 100), 1},
        {"second header cut short", [&] { Bytes b = buildContainer({smallDisk(1), smallDisk(2)});
                                          truncateTo(b, one.size() + 0x2AF); return b; }(), 1},
        {"more than 64", buildContainer(many), 64, true},
        {"64 and a header cut short", [&] { Bytes b = buildContainer(many);
                                            truncateTo(b, b.size() - 1); return b; }(), 64, true},
        {"64 and part of a header", [&] { Bytes b = buildContainer(sixtyFour);
                                          b.resize(b.size() + 0x2AF); return b; }(), 64},
        {"exactly 64", buildContainer(sixtyFour), 64},
        {"size beyond 2^31 ends the scan", negativeSize, 1},
        // A size below a header's own: read as the rest of the file, and last.
        {"disk size 0 is read to the end", sizeZero, 1},
        // A file that is no container: its bytes at 0x1C say a size past its
        // end (one disk image, cut short) or below a header's (read to the end).
        {"a text file", [] { std::string text;
                             while (text.size() < 5000) { text += "Not a disk image, but a letter. "; }
                             return Bytes(text.begin(), text.end()); }(), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        openBytes(c.bytes);
        EXPECT_EQ(image_.diskCount(), c.count);
        EXPECT_EQ(image_.disksBeyondLimit(), c.beyond);
        EXPECT_EQ(image_.fileSize(), static_cast<std::int64_t>(c.bytes.size()));
    }
}

TEST_F(ImageTest, SelectDiskReadsHeaderFields) {
    Disk first = smallDisk(1);
    first.name = "ABCDEFGHIJKLMNOPQRS";  // more than 16 bytes: only 16 are stored
    first.mediaType = 0x20;
    first.writeProtect = 0x10;
    Disk second = smallDisk(2);
    second.name = "B2";
    openBytes(buildContainer({first, second}));
    ASSERT_TRUE(image_.selectDisk(0));
    EXPECT_STREQ(image_.diskName(), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(image_.mediaType(), 0x20);
    EXPECT_TRUE(image_.writeProtected());
    ASSERT_TRUE(image_.selectDisk(1));
    EXPECT_STREQ(image_.diskName(), "B2");
    EXPECT_EQ(image_.mediaType(), 0);
    EXPECT_FALSE(image_.writeProtected());
    ASSERT_TRUE(image_.selectDisk(0));
    for (int index : {2, -1}) {
        SCOPED_TRACE(index);
        EXPECT_FALSE(image_.selectDisk(index));
        EXPECT_EQ(image_.mediaType(), -1);
        EXPECT_FALSE(image_.writeProtected());
        EXPECT_STREQ(image_.diskName(), "");
        EXPECT_EQ(image_.readSector(0, 0, 0, 1, 3, buffer_.data(), 1024), 0);
    }
}

TEST_F(ImageTest, NoDiskCurrentReadsNothing) {
    EXPECT_EQ(image_.mediaType(), -1);
    EXPECT_FALSE(image_.selectDisk(0));
    openBytes(buildDisk(smallDisk()));
    // Opened but not yet selected: the track table is empty.
    EXPECT_EQ(image_.readSector(0, 0, 0, 1, 3, buffer_.data(), 1024), 0);
    ASSERT_TRUE(image_.selectDisk(0));
    EXPECT_EQ(image_.readSector(0, 0, 0, 1, 3, buffer_.data(), 1024), 1024);
    // Reopening (here a file opened by the caller) closes the old container
    // and leaves no disk current.
    ASSERT_TRUE(image_.adopt(std::fopen((dir_ / "c.d88").string().c_str(), "rb")));
    EXPECT_EQ(image_.diskCount(), 1);
    EXPECT_EQ(image_.mediaType(), -1);
    EXPECT_EQ(image_.readSector(0, 0, 0, 1, 3, buffer_.data(), 1024), 0);
    ASSERT_TRUE(image_.selectDisk(0));
    EXPECT_TRUE(image_.open(nullptr));
    EXPECT_EQ(image_.diskCount(), 0);
    EXPECT_EQ(image_.mediaType(), -1);
    EXPECT_EQ(image_.readSector(0, 0, 0, 1, 3, buffer_.data(), 1024), 0);
    EXPECT_FALSE(image_.selectDisk(0));
}

TEST_F(ImageTest, OpenRefusesWhatIsNotAContainerFile) {
    EXPECT_FALSE(image_.open((dir_ / "missing").string().c_str()));
    EXPECT_FALSE(image_.open(dir_.path().string().c_str()));
    EXPECT_EQ(image_.diskCount(), 0);
    // A file that the caller could not open: its errno is the reader's error.
    errno = EACCES;
    EXPECT_FALSE(image_.adopt(nullptr));
    EXPECT_EQ(image_.systemError(), EACCES);
}

TEST_F(ImageTest, ShortHeaderOnReselectClearsTheDisk) {
    const std::string path = (dir_ / "c.d88").string();
    Bytes bytes = buildContainer({smallDisk(1), smallDisk(2)});
    ASSERT_TRUE(writeFile(path, bytes));
    ASSERT_TRUE(image_.open(path.c_str()));
    ASSERT_EQ(image_.diskCount(), 2);
    truncateTo(bytes, bytes.size() / 2 + 0x100);  // the file shrinks after it was opened
    ASSERT_TRUE(writeFile(path, bytes));
    EXPECT_FALSE(image_.selectDisk(1));
    EXPECT_EQ(image_.mediaType(), -1);
    EXPECT_EQ(image_.readSector(0, 0, 0, 1, 3, buffer_.data(), 1024), 0);
}

TEST_F(ImageTest, ReadSectorFindsBySectorId) {
    const Disk disk = smallDisk();
    openDisk(disk);
    struct Case {
        const char* name;
        std::array<int, 5> address;  // track index, C, H, R, N
        int maxLength;
        int result;
    } cases[] = {
        {"first sector", {0, 0, 0, 1, 3}, 1024, 1024},
        {"last sector of side 1", {1, 0, 1, 5, 3}, 1024, 1024},
        {"maxLength limits", {2, 1, 0, 3, 3}, 100, 100},
        {"maxLength 0", {2, 1, 0, 3, 3}, 0, 0},
        {"negative maxLength", {2, 1, 0, 3, 3}, -5, 0},
        {"other N", {0, 0, 0, 1, 2}, 1024, 0},
        {"other C", {0, 1, 0, 1, 3}, 1024, 0},
        {"R not on the track", {0, 0, 0, 6, 3}, 1024, 0},
        {"R beyond a byte", {0, 0, 0, 257, 3}, 1024, 0},
        {"absent track", {4, 2, 0, 1, 3}, 1024, 0},
        {"track index 164", {164, 82, 0, 1, 3}, 1024, 0},
        {"negative track index", {-1, 0, 0, 1, 3}, 1024, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        buffer_.fill(0xEE);
        const auto& a = c.address;
        ASSERT_EQ(image_.readSector(a[0], a[1], a[2], a[3], a[4], buffer_.data(), c.maxLength), c.result);
        if (c.result > 0) {
            const Bytes& data = findSector(disk, a[0], a[3])->data;
            EXPECT_TRUE(std::equal(buffer_.begin(), buffer_.begin() + c.result, data.begin()));
            EXPECT_EQ(buffer_[static_cast<std::size_t>(c.result)], 0xEE);
        }
    }
}

// Damage to a track, the sector asked for and what readSector gives.
TEST_F(ImageTest, ReadSectorOnDamagedTracks) {
    struct Case {
        const char* name;
        std::function<void(Disk&)> damage;
        std::function<void(Bytes&)> damageBytes;
        int r;
        int result;
        int disk = 0;  // the one read
    } cases[] = {
        {"sector count 0 ends the search", [](Disk& d) { d.tracks[0][0].sectorCount = 0; }, {}, 3, 0},
        {"count of the first header ends the search", [](Disk& d) { d.tracks[0][0].sectorCount = 1; }, {}, 3, 0},
        {"only equality with the count ends it",
         [](Disk& d) { d.tracks[0][0].sectorCount = 3; d.tracks[0][1].sectorCount = 1; }, {}, 4, 1024},
        {"a smaller data size is what is read", [](Disk& d) { d.tracks[0][2].data.resize(300); }, {}, 3, 300},
        {"the first matching sector wins",
         [](Disk& d) { d.tracks[0][1].r = 3; d.tracks[0][1].data.resize(10); }, {}, 3, 10},
        {"track entry beyond the disk size", {}, [](Bytes& b) { putLe32(b, 0x20, 0x7FFFFFF0u); }, 1, 0},
        {"track entry at the disk size, where the next disk begins", {},
         [](Bytes& b) {
             const std::size_t size = b.size();
             putLe32(b, 0x20, static_cast<std::uint32_t>(size));
             const Bytes next = buildDisk(smallDisk(2));
             b.insert(b.end(), next.begin(), next.end());
             // Its name's bytes as the header of one sector C0 H0 R1 N3.
             putLe32(b, size, 0x03010000u);
             putLe16(b, size + 4, 1);
             putLe16(b, size + 14, 1024);
         },
         1, 0},
        {"track entry of 2^32 less the disk before, where that disk's track 0 begins", {},
         [](Bytes& b) {
             const Bytes before = buildDisk(smallDisk(2));
             b.insert(b.begin(), before.begin(), before.end());
             putLe32(b, before.size() + 0x20,
                     static_cast<std::uint32_t>(d88::loadLe32(&before[0x20]) - before.size()));
         },
         1, 0, 1},
        {"negative track entry", {}, [](Bytes& b) { putLe32(b, 0x20, 0x80000000u); }, 1, 0},
        {"track entry 0", {}, [](Bytes& b) { putLe32(b, 0x20, 0); }, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Disk disk = smallDisk();
        if (c.damage) {
            c.damage(disk);
        }
        Bytes bytes = buildDisk(disk);
        if (c.damageBytes) {
            c.damageBytes(bytes);
        }
        openBytes(bytes);
        ASSERT_TRUE(image_.selectDisk(c.disk));
        EXPECT_EQ(image_.readSector(0, 0, 0, c.r, 3, buffer_.data(), 1024), c.result);
    }
}

TEST_F(ImageTest, ReadSectorCountsOnlyBytesTheFileHolds) {
    Bytes bytes = buildDisk(smallDisk());
    // Cut the container 100 bytes into the data of the last sector of side 3.
    truncateTo(bytes, bytes.size() - 1024 + 100);
    openBytes(bytes);
    ASSERT_TRUE(image_.selectDisk(0));
    EXPECT_EQ(image_.readSector(3, 1, 1, 5, 3, buffer_.data(), 1024), 100);
    EXPECT_EQ(image_.readSector(3, 1, 1, 4, 3, buffer_.data(), 1024), 1024);
}

TEST_F(ImageTest, ReadRunStepsAcrossSides) {
    Disk disk = smallDisk();
    disk.tracks[3].erase(disk.tracks[3].begin() + 2);  // side 3 loses R 3
    disk.tracks[2][1].data.resize(1000);               // side 2, R 2 is short
    openDisk(disk);
    struct Case {
        const char* name;
        std::array<int, 4> start;  // track index, C, H, R
        int n;
        int length;
        int result;
        int readOn;  // the bytes given when the run reads on past what it cannot read
    } cases[] = {
        {"length 0", {0, 0, 0, 1}, 3, 0, 0, 0},
        {"negative length", {0, 0, 0, 1}, 3, -1, 0, 0},
        {"within a side", {0, 0, 0, 2}, 3, 3000, 3000, 3000},
        {"from side 0 into side 1", {0, 0, 0, 4}, 3, 4096, 4096, 4096},
        {"broken off by a short sector", {1, 0, 1, 1}, 3, 10240, 5120 + 1024, 10240 - 24},
        {"broken off by a missing sector", {3, 1, 1, 1}, 3, 5120, 2048, 4096},
        {"R above the range never changes side", {0, 0, 0, 6}, 3, 2048, 0, 0},
        {"size code of another size", {0, 0, 0, 1}, 2, 512, 0, 0},
        {"negative size code", {0, 0, 0, 1}, -1, 1024, 0, 0},
        {"size code beyond 32 bits", {0, 0, 0, 1}, 24, 1024, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto& s = c.start;
        ASSERT_EQ(image_.readRun(s[0], s[1], s[2], s[3], c.n, buffer_.data(), c.length), c.result);
        Bytes expected = runBytes(disk, s[0], s[3], c.result);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer_.begin()));
        // Reading on, every chunk holds what its sector gave, then zero bytes.
        buffer_.fill(0xEE);
        ASSERT_EQ(image_.readRun(s[0], s[1], s[2], s[3], c.n, buffer_.data(), c.length,
                                 d88::RunMode::ReadOn),
                  c.readOn);
        // A size code that gives no sector size reads nothing at all.
        const bool noSize = c.n < 0 || c.n > 23;
        expected = c.n == 3 && s[3] <= 5 ? runBytes(disk, s[0], s[3], std::max(c.length, 0))
                                         : Bytes(noSize ? 0 : static_cast<std::size_t>(c.length), 0);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer_.begin()));
        EXPECT_EQ(buffer_[expected.size()], 0xEE);
        ASSERT_EQ(image_.readRun(s[0], s[1], s[2], s[3], c.n, buffer_.data(), c.length), c.result);
    }
    // The short sector's bytes stand in the buffer though not counted.
    ASSERT_EQ(image_.readRun(1, 0, 1, 1, 3, buffer_.data(), 10240), 6144);
    const Bytes& shortData = findSector(disk, 2, 2)->data;
    EXPECT_TRUE(std::equal(shortData.begin(), shortData.end(), buffer_.begin() + 6144));
}

TEST_F(ImageTest, ReadRunUsesTheSectorRange) {
    const Disk disk = smallDisk();
    openDisk(disk);
    image_.setSectorRange(2, 3);  // R 2..3 of each side
    ASSERT_EQ(image_.readRun(0, 0, 0, 3, 3, buffer_.data(), 3072), 3072);
    const Bytes* parts[] = {&findSector(disk, 0, 3)->data, &findSector(disk, 1, 2)->data,
                            &findSector(disk, 1, 3)->data};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(std::equal(parts[i]->begin(), parts[i]->end(), buffer_.begin() + 1024 * static_cast<std::ptrdiff_t>(i)));
    }
}

TEST_F(ImageTest, ListSectorIds) {
    Disk disk = smallDisk();
    // Side 1 has sector counts of 0: its listing runs on to maxBytes or the file's end.
    for (Sector& sector : disk.tracks[1]) {
        sector.sectorCount = 0;
    }
    openDisk(disk);
    struct Case {
        const char* name;
        int track;
        int maxBytes;
        int result;
    } cases[] = {
        {"whole side", 0, 100, 20},
        {"room for one entry", 0, 6, 4},
        {"no room", 0, 3, 0},
        {"count 0 runs to the end of the file", 1, 400, 60},
        {"count 0 runs to maxBytes", 1, 30, 28},
        {"absent track", 4, 100, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(image_.listSectorIds(c.track, buffer_.data(), c.maxBytes), c.result);
    }
    ASSERT_EQ(image_.listSectorIds(0, buffer_.data(), 8), 8);
    EXPECT_EQ(std::memcmp(buffer_.data(), "\0\0\x01\x03\0\0\x02\x03", 8), 0);
}

// Real disk images from public projects open, list and read as their bytes say.
TEST_F(ImageTest, RealImages) {
    for (const char* name : {"d88dmp_HuBASIC_Format_2D.d88", "sosweb_SOS_TEST.d88", "x1sgl_x1balls.d88"}) {
        SCOPED_TRACE(name);
        const std::string path = std::string(D88CUT_REALDATA_DIR) + "/" + name;
        const auto bytes = readFile(path);
        ASSERT_TRUE(bytes.has_value());
        ASSERT_TRUE(image_.open(path.c_str()));
        ASSERT_EQ(image_.diskCount(), 1);
        ASSERT_TRUE(image_.selectDisk(0));
        const auto nameEnd = std::find(bytes->begin(), bytes->begin() + 16, 0);
        EXPECT_EQ(std::string(image_.diskName()), std::string(bytes->begin(), nameEnd));
        // 2D: 80 track sides of sixteen 256-byte sectors.
        ASSERT_EQ(image_.listSectorIds(0, buffer_.data(), 1000), 64);
        for (int r = 1; r <= 16; ++r) {
            EXPECT_EQ(buffer_[static_cast<std::size_t>(4 * (r - 1) + 2)], r);
        }
        ASSERT_EQ(image_.readSector(0, 0, 0, 1, 1, buffer_.data(), 4096), 256);
        EXPECT_TRUE(std::equal(buffer_.begin(), buffer_.begin() + 256, bytes->begin() + 0x2B0 + 16));
        image_.setSectorRange(1, 16);
        EXPECT_EQ(image_.readRun(78, 39, 0, 1, 1, buffer_.data(), 8192), 8192);
        EXPECT_EQ(image_.readRun(79, 39, 1, 5, 3, buffer_.data(), 1024), 0);
    }
}

}  // namespace
}  // namespace d88test
