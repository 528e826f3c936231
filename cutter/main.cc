#include "cutter/cutter.h"
#include "cutter/system.h"

int main(int argc, char** argv) {
    d88cut::useBinaryStreams();
    return d88cut::runCutter(argc, argv);
}
