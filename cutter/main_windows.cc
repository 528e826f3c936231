// The entry point on Windows: the command line as UTF-16, so that any name
// works, handed on as UTF-8, which the tool's system functions take.
#include <windows.h>

#include <string>
#include <vector>

#include "cutter/cutter.h"
#include "cutter/system.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string argument(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
        (void)WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, argument.data(), size, nullptr, nullptr);
        argument.resize(std::char_traits<char>::length(argument.c_str()));
        arguments.push_back(std::move(argument));
    }
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) {
        pointers.push_back(argument.c_str());
    }
    pointers.push_back(nullptr);
    d88cut::useBinaryStreams();
    return d88cut::runCutter(argc, pointers.data());
}
