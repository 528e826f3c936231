#include "cutter/cutter.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // The messages are bytes, written unchanged as on every other system: no
    // carriage return is put before their line ends.
    (void)_setmode(_fileno(stdout), _O_BINARY);
    (void)_setmode(_fileno(stderr), _O_BINARY);
#endif
    return d88cut::runCutter(argc, argv);
}
