// Runs the fuzz target over saved inputs, for builds without libFuzzer:
// each argument is an input file or a directory of them.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path path = fs::absolute(argv[i]);
        std::error_code error;
        if (fs::is_directory(path, error)) {
            for (const auto& entry : fs::directory_iterator(path, error)) {
                if (entry.is_regular_file()) {
                    inputs.push_back(entry.path());
                }
            }
        } else {
            inputs.push_back(path);
        }
        if (error) {
            (void)std::fprintf(stderr, "%s: cannot read\n", argv[i]);
            return 1;
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        (void)std::fprintf(stderr, "usage: %s INPUT-OR-DIRECTORY... (no input found)\n", argv[0]);
        return 1;
    }
    // The target changes the current directory: every path is absolute by now.
    (void)LLVMFuzzerInitialize(&argc, &argv);
    for (const fs::path& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            (void)std::fprintf(stderr, "%s: cannot read\n", path.c_str());
            return 1;
        }
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        (void)std::fprintf(stderr, "replaying %s (%zu bytes)\n", path.filename().c_str(),
                           bytes.size());
        (void)LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    (void)std::fprintf(stderr, "replayed %zu inputs\n", inputs.size());
    return 0;
}
