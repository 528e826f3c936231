// Writes the sample container: the program disk, disk A and disk B with
// made-up contents, so that the tool can be tried without a real disk.
#include <cstdio>

#include "tests/known_disks.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.d88\n", argc > 0 ? argv[0] : "make_sample");
        return 1;
    }
    using d88cut::DiskKind;
    std::vector<d88test::Disk> disks = {
        d88test::makeKnownDisk(DiskKind::ProgramDisk, 1),
        d88test::makeKnownDisk(DiskKind::DiskA, 2),
        d88test::makeKnownDisk(DiskKind::DiskB, 3),
    };
    disks[0].name = "SAMPLE PROGRAM";
    disks[1].name = "SAMPLE A";
    disks[2].name = "SAMPLE B";
    if (!d88test::writeFile(argv[1], d88test::buildContainer(disks))) {
        std::fprintf(stderr, "%s: cannot write\n", argv[1]);
        return 1;
    }
    return 0;
}
