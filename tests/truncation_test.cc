// A container of the three known disks cut short at many lengths, each run
// through the tool in process: no crash, every file written has its full
// size and holds only bytes of the disk, what could not be read being 0,
// and a recognised disk that gave a file incomplete or not at all makes the
// status 1, with a message for each such file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <set>

#include "cutter/cutter.h"
#include "tests/known_disks.h"
#include "tests/test_dir.h"

namespace d88test {
namespace {

using d88cut::DiskKind;

constexpr std::size_t kDiskHeaderSize = 0x2B0;
constexpr std::size_t kSectorHeaderSize = 16;

// Where the disk headers and the sector headers of a built container begin.
struct Layout {
    std::vector<std::size_t> disks;
    std::vector<std::size_t> sectors;
};

std::uint32_t le32(const Bytes& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16)) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

Layout layoutOf(const Bytes& bytes) {
    Layout layout;
    for (std::size_t disk = 0; disk + kDiskHeaderSize <= bytes.size();
         disk += le32(bytes, disk + 0x1C)) {
        layout.disks.push_back(disk);
        for (std::size_t t = 0; t < 164; ++t) {
            const std::uint32_t entry = le32(bytes, disk + 0x20 + 4 * t);
            std::size_t at = disk + entry;
            for (int s = 0; entry != 0 && s < (bytes[at + 4] | (bytes[at + 5] << 8)); ++s) {
                layout.sectors.push_back(at);
                at += kSectorHeaderSize +
                      static_cast<std::size_t>(bytes[at + 14] | (bytes[at + 15] << 8));
            }
        }
    }
    return layout;
}

// Every length from just before a disk header to just after it, and around
// each sector header; every `stride`-th elsewhere, and the whole length:
// longest first.
std::vector<std::size_t> cutLengths(const Bytes& bytes, std::size_t stride) {
    const Layout layout = layoutOf(bytes);
    std::set<std::size_t, std::greater<>> lengths = {0, bytes.size()};
    auto addRange = [&](std::size_t from, std::size_t to) {
        for (std::size_t length = from; length <= to && length <= bytes.size(); ++length) {
            lengths.insert(length);
        }
    };
    for (std::size_t disk : layout.disks) {
        addRange(disk >= 32 ? disk - 32 : 0, disk + kDiskHeaderSize + 32);
    }
    for (std::size_t sector : layout.sectors) {
        addRange(sector - 1, sector + kSectorHeaderSize + 1);
    }
    for (std::size_t length = 0; length < bytes.size(); length += stride) {
        lengths.insert(length);
    }
    return {lengths.begin(), lengths.end()};
}

// Sends standard output (or `stream`) to a file while it lives; `take`
// gives what was printed since the last take.
class StdoutToFile {
public:
    explicit StdoutToFile(const fs::path& path, std::FILE* stream = stdout) : stream_(stream) {
        (void)std::fflush(stream_);
        saved_ = ::dup(::fileno(stream_));
        const int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        (void)::dup2(file, ::fileno(stream_));
        (void)::close(file);
        path_ = path;
    }
    ~StdoutToFile() {
        (void)std::fflush(stream_);
        (void)::dup2(saved_, ::fileno(stream_));
        (void)::close(saved_);
    }
    StdoutToFile(const StdoutToFile&) = delete;
    StdoutToFile& operator=(const StdoutToFile&) = delete;

    std::string take() {
        (void)std::fflush(stream_);
        const Bytes bytes = readFile(path_.string()).value_or(Bytes{});
        (void)::ftruncate(::fileno(stream_), 0);
        (void)::lseek(::fileno(stream_), 0, SEEK_SET);
        return {bytes.begin(), bytes.end()};
    }

private:
    std::FILE* stream_;
    int saved_ = -1;
    fs::path path_;
};

// A whole file in one read: the sweep reads some 90,000.
Bytes readWhole(const std::string& name) {
    std::error_code error;
    Bytes bytes(static_cast<std::size_t>(fs::file_size(name, error)));
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (error || file == nullptr) {
        return {};
    }
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    (void)std::fclose(file);
    return bytes;
}

// What is wrong with a file the tool wrote, or "": it must have the full size
// and agree with the intact disk up to some point, with only 0 after it.
std::string checkFile(const Bytes& written, const Bytes& intact) {
    if (written.size() != intact.size()) {
        return "size " + std::to_string(written.size()) + " instead of " +
               std::to_string(intact.size());
    }
    const auto differs = std::mismatch(written.begin(), written.end(), intact.begin()).first;
    if (std::any_of(differs, written.end(), [](std::uint8_t byte) { return byte != 0; })) {
        return "bytes that are not on the disk at " + std::to_string(differs - written.begin());
    }
    return {};
}

// The disk's bytes with its identification sector stored ahead of every
// track it cuts from, so that a cut inside those tracks leaves the disk
// recognised and damages its files instead. Track 0, which no catalog reads,
// holds the sector, and track 79's table entry points there.
Bytes identificationFirst(Disk disk) {
    disk.tracks[0] = {*findSector(disk, 79, 5)};
    disk.tracks[79].clear();
    Bytes bytes = buildDisk(disk);
    putLe32(bytes, 0x20 + 4 * 79, le32(bytes, 0x20));
    putLe32(bytes, 0x20, 0);
    return bytes;
}

TEST(TruncationTest, EveryCutLengthCutsWholeFilesOrNone) {
    // Only the sectors that the tool reads, so that the container is small
    // and the sweep dense.
    Bytes container;
    std::map<std::string, Bytes> intact;
    for (const auto& [kind, seed] :
         {std::pair{DiskKind::ProgramDisk, 1u}, std::pair{DiskKind::DiskA, 2u},
          std::pair{DiskKind::DiskB, 3u}}) {
        Disk disk = makeKnownDisk(kind, seed);
        keepOnly(disk, sectorsRead(kind));
        for (ExpectedFile& file : expectedFiles(disk, kind)) {
            intact[file.name] = std::move(file.bytes);
        }
        const Bytes bytes = identificationFirst(disk);
        container.insert(container.end(), bytes.begin(), bytes.end());
    }
    ASSERT_EQ(intact.size(), 49u);
    const std::vector<std::size_t> lengths = cutLengths(container, 151);

    // Thousands of runs create and remove some 90,000 files: on a tmpfs,
    // where the test may mount one, that takes a fraction of the time.
    ScopedTempDir dir;
    const ScopedMount tmpfs(dir.path(), "tmpfs", "tmpfs", 0, "size=16m");
    const fs::path path = dir / "c.d88";
    ASSERT_TRUE(writeFile(path.string(), container));
    fs::create_directory(dir / "out");
    const fs::path previous = fs::current_path();
    fs::current_path(dir / "out");

    // Failures are gathered and reported once standard output is back.
    std::vector<std::string> problems;
    std::size_t previousCount = intact.size();
    std::size_t damaged = 0;  // files cut from a run that broke off
    {
        StdoutToFile capture(dir / "stdout");
        StdoutToFile messages(dir / "stderr", stderr);
        for (std::size_t length : lengths) {
            fs::resize_file(path, length);
            // As a fresh process, but with stale bytes that must never reach a file.
            d88cut::SectorBuffer.fill(0xEE);
            const char* argv[] = {"d88cut", path.c_str()};
            const int status = d88cut::runCutter(2, argv);
            const std::string out = capture.take();
            const std::string err = messages.take();
            const std::string at = "length " + std::to_string(length) + ": ";
            std::size_t rows = 0;  // of the disks recognised
            for (const auto& [kind, line] : {std::pair{DiskKind::ProgramDisk, "PROGRAM DISK\x82"},
                                             std::pair{DiskKind::DiskA, "DISK A\x82"},
                                             std::pair{DiskKind::DiskB, "DISK B\x82"}}) {
                if (out.find(line) != std::string::npos) {
                    rows += d88cut::catalogFor(kind).size() - 1;
                }
            }
            std::size_t count = 0;
            std::size_t broken = 0;
            for (const std::string& name : listDir(".")) {
                ++count;
                const auto expected = intact.find(name);
                const Bytes written = readWhole(name);
                const std::string problem = expected == intact.end()
                                                ? "not a catalogued file"
                                                : checkFile(written, expected->second);
                if (problem.empty() && written != expected->second) {
                    ++broken;
                    if (err.find(name + ": \x83") == std::string::npos) {
                        problems.push_back(at + name + ": incomplete without a message");
                    }
                }
                if (!problem.empty()) {
                    problems.push_back(at + name + ": " + problem);
                }
                if (out.find("cutting ... " + name + "\n") == std::string::npos) {
                    problems.push_back(at + name + ": written without its cutting line");
                }
                fs::remove(name);
            }
            damaged += broken;
            if (status != (err.empty() ? 0 : 1) || (status == 0 && (count < rows || broken > 0))) {
                problems.push_back(at + "status " + std::to_string(status) + " with " +
                                   std::to_string(count) + " of " + std::to_string(rows) + " files, " +
                                   std::to_string(broken) + " incomplete");
            }
            // A longer container holds everything a shorter one does.
            if (count > previousCount || (length == container.size() && count != intact.size())) {
                problems.push_back(at + std::to_string(count) + " files");
            }
            previousCount = count;
            if (problems.size() > 20) {
                break;
            }
        }
    }
    (void)d88cut::diskImage.open(nullptr);
    fs::current_path(previous);
    for (const std::string& problem : problems) {
        ADD_FAILURE() << problem;
    }
    EXPECT_GT(damaged, 0u);
    std::printf(
        "cut a container of %zu bytes at %zu lengths (%s); %zu files came from broken runs\n",
        container.size(), lengths.size(), tmpfs.why().empty() ? "on a tmpfs" : "on disk", damaged);
}

}  // namespace
}  // namespace d88test
