// Writes the sample container: the program disk, disk A and disk B with
// made-up contents, so that the tool can be tried without a real disk. With
// --set, writes into a folder the containers that the browser test of the
// page cuts: the sample, its three disks each alone, a damaged one, one cut
// short and one of 64 disk images.
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/known_disks.h"

namespace {

using d88cut::DiskKind;
using d88test::Disk;

std::vector<Disk> sampleDisks() {
    std::vector<Disk> disks = {
        d88test::makeKnownDisk(DiskKind::ProgramDisk, 1),
        d88test::makeKnownDisk(DiskKind::DiskA, 2),
        d88test::makeKnownDisk(DiskKind::DiskB, 3),
    };
    disks[0].name = "SAMPLE PROGRAM";
    disks[1].name = "SAMPLE A";
    disks[2].name = "SAMPLE B";
    return disks;
}

bool write(const std::string& path, const d88test::Bytes& bytes) {
    if (d88test::writeFile(path, bytes)) {
        return true;
    }
    std::fprintf(stderr, "%s: cannot write\n", path.c_str());
    return false;
}

bool writeSet(const std::string& dir) {
    const std::vector<Disk> sample = sampleDisks();
    const d88test::Bytes whole = d88test::buildContainer(sample);
    // A disk that is none of the three, then a program disk whose PROG
    // breaks off after 10,240 bytes, whose QXGT02 is a record of another
    // kind and whose QXCONG and QXMINA are gone.
    Disk unknown = d88test::makeFiveSectorDisk(4);
    unknown.name = "NOT KNOWN";
    Disk damaged = d88test::makeKnownDisk(DiskKind::ProgramDisk, 5);
    damaged.name = "DAMAGED PROGRAM";
    damaged.tracks[3].clear();
    d88test::putRecord(damaged, 44, 5, 512, 0x4100, 100);
    damaged.tracks[60].clear();
    // The sample cut off halfway through disk B.
    d88test::Bytes cutShort = whole;
    d88test::truncateTo(cutShort, whole.size() - d88test::buildDisk(sample[2]).size() / 2);
    std::vector<Disk> many;
    for (std::uint32_t i = 0; i < 64; ++i) {
        many.push_back(d88test::makeKnownDisk(static_cast<DiskKind>(i % 3), 10 + i));
    }
    return write(dir + "/sample.d88", whole) &&
           write(dir + "/program.d88", d88test::buildContainer({sample[0]})) &&
           write(dir + "/disk-a.d88", d88test::buildContainer({sample[1]})) &&
           write(dir + "/disk-b.d88", d88test::buildContainer({sample[2]})) &&
           write(dir + "/damaged.d88", d88test::buildContainer({unknown, damaged})) &&
           write(dir + "/cut-short.d88", cutShort) &&
           write(dir + "/many.d88", d88test::buildContainer(many));
}

}  // namespace

int main(int argc, char** argv) {
    const char* program = argc > 0 ? argv[0] : "make_sample";
    if (argc == 3 && std::strcmp(argv[1], "--set") == 0) {
        return writeSet(argv[2]) ? 0 : 1;
    }
    // Anything else that starts with "-" is a mistyped option, such as
    // --help, never the name of the container to write.
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: %s OUTPUT.d88\n       %s --set DIR\n", program, program);
        return 2;
    }
    return write(argv[1], d88test::buildContainer(sampleDisks())) ? 0 : 1;
}
