// Times whole d88cut processes against the floor program (floor.cc): the
// least I/O that produces the same files, with and without the rename that
// replaces a file safely. Two containers are built with the project's D88
// writer, one of the three known disks and one of 64 disk images (the three
// kinds repeated), and each program is run on each, in a fresh empty output
// folder every time, taking turns. It prints the median and spread of the
// wall times, the median ratio of the wall times of runs side by side, and
// the peak resident memory of each program.
//
// usage: d88cut_bench D88CUT FLOOR SCRATCH_DIR [ROUNDS]
// Without ROUNDS, the environment's D88CUT_BENCH_ROUNDS where it is set (so
// that the bench target can be run short), the default otherwise.
#include <malloc.h>
#include <sys/personality.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/known_disks.h"

namespace {

namespace fs = std::filesystem;
using d88cut::DiskKind;
using d88test::Bytes;
using d88test::Disk;

constexpr int kWarmUpRounds = 3;
constexpr int kDefaultRounds = 41;
constexpr std::size_t kDiskHeaderSize = 0x2B0;
constexpr std::size_t kSectorHeaderSize = 16;

struct Benchmark {
    std::string name;
    fs::path container;
    fs::path list;
    std::size_t fileCount = 0;
};

struct Run {
    double milliseconds = 0;
    long peakKiB = 0;
};

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "d88cut_bench: %s\n", what.c_str());
    std::exit(1);
}

// The three kinds in turn.
DiskKind kindOf(std::size_t index) {
    constexpr DiskKind kinds[] = {DiskKind::ProgramDisk, DiskKind::DiskA, DiskKind::DiskB};
    return kinds[index % 3];
}

// Where the data of each sector (track, R) lies in a disk image, as the
// writer lays it out: the disk header, then every track's sectors, each a
// header and its data; and the disk image's size.
struct Layout {
    std::map<std::pair<int, int>, std::size_t> dataOffsets;
    std::size_t size = 0;
};

Layout layoutOf(const Disk& disk) {
    Layout layout;
    layout.size = kDiskHeaderSize;
    for (std::size_t t = 0; t < disk.tracks.size(); ++t) {
        for (const d88test::Sector& sector : disk.tracks[t]) {
            layout.dataOffsets.emplace(std::pair{static_cast<int>(t), static_cast<int>(sector.r)},
                                       layout.size + kSectorHeaderSize);
            layout.size += kSectorHeaderSize + sector.data.size();
        }
    }
    return layout;
}

// Builds the container and the floor's list of (offset, size, name), one line
// a file in the order d88cut writes them; gives the files the folder must hold
// afterwards (a later disk's file replaces an earlier one of the same name).
std::map<std::string, Bytes> prepare(Benchmark& bench, std::size_t diskCount) {
    std::vector<Disk> disks;
    for (std::size_t i = 0; i < diskCount; ++i) {
        // Editions of each disk whose records are as long (their seeds 61
        // apart) but whose bytes differ: no copy merges with the one before,
        // and each is written in its place, the later of two alike.
        disks.push_back(d88test::makeKnownDisk(kindOf(i), static_cast<std::uint32_t>(i % 3 + 1 + 61 * (i / 3))));
    }
    const Bytes container = d88test::buildContainer(disks);
    if (!d88test::writeFile(bench.container.string(), container)) {
        fail("cannot write " + bench.container.string());
    }
    std::ofstream list(bench.list, std::ios::trunc);
    std::map<std::string, Bytes> final;
    std::size_t diskStart = 0;
    for (std::size_t d = 0; d < diskCount; ++d) {
        const Disk& disk = disks[d];
        const DiskKind kind = kindOf(d);
        const Layout layout = layoutOf(disk);
        const auto catalog = d88cut::catalogFor(kind);
        const auto files = d88test::expectedFiles(disk, kind);
        for (std::size_t i = 0; i < files.size(); ++i) {
            const d88cut::CatalogEntry& entry = catalog[i];
            const std::size_t at = diskStart + layout.dataOffsets.at({entry.trackIndex, entry.sector}) +
                                   static_cast<std::size_t>(entry.offset);
            // The file's first bytes are where the layout says.
            const std::size_t head = std::min<std::size_t>(files[i].bytes.size(), 512);
            if (!std::equal(files[i].bytes.begin(), files[i].bytes.begin() + static_cast<std::ptrdiff_t>(head),
                            container.begin() + static_cast<std::ptrdiff_t>(at))) {
                fail("layout mismatch at " + files[i].name);
            }
            list << at << ' ' << files[i].bytes.size() << ' ' << files[i].name << '\n';
            final[files[i].name] = files[i].bytes;
            ++bench.fileCount;
        }
        diskStart += layout.size;
    }
    if (diskStart != container.size()) {
        fail("layout mismatch in " + bench.name);
    }
    if (!list.flush()) {
        fail("cannot write " + bench.list.string());
    }
    return final;
}

// Runs the program in `folder` with stdout to /dev/null; gives its wall time
// and peak resident memory.
Run runIn(const fs::path& folder, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const std::string where = folder.string();
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        fail("cannot fork");
    }
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, STDOUT_FILENO) < 0 || chdir(where.c_str()) != 0) {
            _exit(127);
        }
        // Without address space randomisation the peak is the same from run
        // to run (with it, it wanders by some hundred KiB).
        (void)personality(ADDR_NO_RANDOMIZE);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        fail("wait4 failed");
    }
    const auto stop = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fail(args[0] + " failed in " + where);
    }
    return {std::chrono::duration<double, std::milli>(stop - start).count(), usage.ru_maxrss};
}

// Runs the program in a fresh empty folder, then removes the folder.
Run runFresh(const fs::path& scratch, const std::vector<std::string>& args) {
    const fs::path folder = scratch / "out";
    fs::remove_all(folder);
    fs::create_directory(folder);
    const Run run = runIn(folder, args);
    fs::remove_all(folder);
    return run;
}

// Runs the program once and checks that the folder then holds the files it
// must hold, by name and size, and by contents when `contents` is set.
void check(const fs::path& scratch, const std::vector<std::string>& args,
           const std::map<std::string, Bytes>& final, bool contents) {
    const fs::path folder = scratch / "check";
    fs::remove_all(folder);
    fs::create_directory(folder);
    (void)runIn(folder, args);
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        const auto want = final.find(name);
        const auto got = d88test::readFile(entry.path().string());
        if (want == final.end() || !got || got->size() != want->second.size() ||
            (contents && *got != want->second)) {
            fail(args[0] + " wrote an unexpected " + name);
        }
        ++count;
    }
    if (count != final.size()) {
        fail(args[0] + " did not write every file");
    }
    fs::remove_all(folder);
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const double at = p * static_cast<double>(values.size() - 1);
    const auto low = static_cast<std::size_t>(at);
    const std::size_t high = std::min(low + 1, values.size() - 1);
    return values[low] + (values[high] - values[low]) * (at - static_cast<double>(low));
}

struct Summary {
    double median = 0;
    long peakKiB = 0;
};

Summary report(const char* label, const std::vector<Run>& runs) {
    std::vector<double> times;
    long peak = 0;
    long lowest = runs.front().peakKiB;
    for (const Run& run : runs) {
        times.push_back(run.milliseconds);
        peak = std::max(peak, run.peakKiB);
        lowest = std::min(lowest, run.peakKiB);
    }
    const Summary summary{percentile(times, 0.5), peak};
    std::printf("  %-12s median %8.3f ms  min %8.3f  p25 %8.3f  p75 %8.3f  max %8.3f  peak %ld KiB (%ld..%ld)\n",
                label, summary.median, percentile(times, 0), percentile(times, 0.25),
                percentile(times, 0.75), percentile(times, 1), peak, lowest, peak);
    return summary;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s D88CUT FLOOR SCRATCH_DIR [ROUNDS]\n", argc > 0 ? argv[0] : "d88cut_bench");
        return 2;
    }
    const std::string tool = fs::absolute(argv[1]).string();
    const std::string floor = fs::absolute(argv[2]).string();
    const fs::path scratch = fs::absolute(argv[3]);
    const char* roundsVariable = std::getenv("D88CUT_BENCH_ROUNDS");
    const int rounds = argc == 5                   ? std::atoi(argv[4])
                       : roundsVariable != nullptr ? std::atoi(roundsVariable)
                                                   : kDefaultRounds;
    if (rounds < 1) {
        fail("ROUNDS must be at least 1");
    }
    fs::remove_all(scratch);
    fs::create_directories(scratch);

    std::vector<Benchmark> benches = {{"three-disk", scratch / "three.d88", scratch / "three.list"},
                                      {"64-disk", scratch / "sixty-four.d88", scratch / "sixty-four.list"}};
    for (Benchmark& bench : benches) {
        const auto final = prepare(bench, bench.name == "three-disk" ? 3 : 64);
        check(scratch, {tool, bench.container.string()}, final, true);
        check(scratch, {floor, bench.container.string(), bench.list.string()}, final, false);
        check(scratch, {floor, "--rename", bench.container.string(), bench.list.string()}, final, false);
    }
    // Give back what building the containers took, so that a child starts
    // from a small copy of this process (its peak counts from fork on).
    (void)malloc_trim(0);

    std::printf("d88cut: %s\nfloor:  %s\n%d rounds after %d warm-up rounds, the programs taking turns\n\n", tool.c_str(),
                floor.c_str(), rounds, kWarmUpRounds);
    // What a run costs before either program does anything: the floor
    // program's usage message (the last of three, the others warm up).
    long startPeak = 0;
    for (int i = 0; i < 3; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_WRONLY);
            (void)dup2(null, STDERR_FILENO);
            (void)personality(ADDR_NO_RANDOMIZE);
            execl(floor.c_str(), floor.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        (void)wait4(pid, &status, 0, &usage);
        startPeak = usage.ru_maxrss;
    }
    std::printf("a process that starts and exits at once: peak %ld KiB\n\n", startPeak);

    std::vector<std::string> lines;
    std::vector<long> peaks;
    for (const Benchmark& bench : benches) {
        struct Program {
            const char* label;
            std::vector<std::string> args;
            std::vector<Run> runs;
        };
        std::vector<Program> programs = {
            {"d88cut", {tool, bench.container.string()}, {}},
            {"floor", {floor, bench.container.string(), bench.list.string()}, {}},
            {"floor+rename", {floor, "--rename", bench.container.string(), bench.list.string()}, {}},
        };
        for (int i = 0; i < kWarmUpRounds; ++i) {
            for (const Program& program : programs) {
                (void)runFresh(scratch, program.args);
            }
        }
        // One run of each program a round, each going first in turn, so that
        // none always follows another.
        for (int i = 0; i < rounds; ++i) {
            for (std::size_t k = 0; k < programs.size(); ++k) {
                Program& program = programs[(static_cast<std::size_t>(i) + k) % programs.size()];
                program.runs.push_back(runFresh(scratch, program.args));
            }
        }
        std::printf("%s container: %ju bytes, %zu files written\n", bench.name.c_str(),
                    static_cast<std::uintmax_t>(fs::file_size(bench.container)), bench.fileCount);
        std::vector<Summary> summaries;
        for (const Program& program : programs) {
            summaries.push_back(report(program.label, program.runs));
        }
        // Each d88cut run against the other program's run of the same round:
        // the load of the moment weighs on both, so the ratio of a pair is
        // steadier than the ratio of the medians.
        std::vector<double> ratios;
        for (std::size_t p = 1; p < programs.size(); ++p) {
            std::vector<double> pairs;
            for (int i = 0; i < rounds; ++i) {
                pairs.push_back(programs[0].runs[static_cast<std::size_t>(i)].milliseconds /
                                programs[p].runs[static_cast<std::size_t>(i)].milliseconds);
            }
            ratios.push_back(percentile(pairs, 0.5));
            std::printf("  d88cut / %-12s median of pairs %.2f (p25 %.2f, p75 %.2f), of medians %.2f\n",
                        programs[p].label, ratios.back(), percentile(pairs, 0.25), percentile(pairs, 0.75),
                        summaries[0].median / summaries[p].median);
        }
        std::printf("\n");
        char line[200];
        std::snprintf(line, sizeof line, "%s: ratio %.2f, peak %.2f MiB (floor %.2f MiB; ratio to floor+rename %.2f)",
                      bench.name.c_str(), ratios[0], static_cast<double>(summaries[0].peakKiB) / 1024,
                      static_cast<double>(summaries[1].peakKiB) / 1024, ratios[1]);
        lines.emplace_back(line);
        peaks.push_back(summaries[0].peakKiB);
    }
    // The containers and lists stay in the scratch folder for profiling.
    for (const std::string& line : lines) {
        std::printf("%s\n", line.c_str());
    }
    std::printf("d88cut peak, 64-disk against three-disk: %+.1f%%\n",
                100.0 * static_cast<double>(peaks[1] - peaks[0]) / static_cast<double>(peaks[0]));
    return 0;
}
