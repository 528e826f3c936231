#include "cutter/cutter.h"

int main(int argc, char** argv) { return d88cut::runCutter(argc, argv); }
