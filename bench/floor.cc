// The floor of the benchmark: the least I/O that produces the files d88cut
// writes. For each line "OFFSET SIZE NAME" of the list it does one positioned
// read of SIZE bytes from the container at OFFSET and one create, write and
// close of NAME in the current directory. It parses nothing of the container
// and does not care what the bytes are: only the amount of I/O is the same.
//
// With --rename first, each file is written under a temporary name and
// renamed over NAME, the plain way to replace a file whole or not at all, as
// d88cut does with a file that was there before its run.
//
// Benchmark code, not the tool: POSIX calls, no C++ runtime, so that it links
// against the C library alone.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// As large as d88cut's buffer; only the pages touched become resident.
unsigned char buffer[400 * 1024];
// The list is small: about 30 bytes a file, some thousand files at most.
char list[256 * 1024];

bool readAll(const char* path, char* into, std::size_t room, std::size_t& length) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    length = 0;
    for (;;) {
        const ssize_t got = ::read(fd, into + length, room - length);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        length += static_cast<std::size_t>(got);
        if (length == room) {
            (void)::close(fd);
            return false;
        }
    }
    (void)::close(fd);
    return true;
}

bool cutOne(int container, long offset, long size, const char* name, bool rename) {
    if (size < 0 || static_cast<unsigned long>(size) > sizeof buffer) {
        return false;
    }
    const auto wanted = static_cast<std::size_t>(size);
    if (::pread(container, buffer, wanted, offset) != static_cast<ssize_t>(wanted)) {
        return false;
    }
    char temporary[300];
    if (rename && std::snprintf(temporary, sizeof temporary, ".%s.floor", name) >= static_cast<int>(sizeof temporary)) {
        return false;
    }
    const int out = rename ? ::open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666)
                           : ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        return false;
    }
    const bool written = ::write(out, buffer, wanted) == static_cast<ssize_t>(wanted);
    return ::close(out) == 0 && written && (!rename || std::rename(temporary, name) == 0);
}

}  // namespace

int main(int argc, char** argv) {
    const bool rename = argc > 1 && std::strcmp(argv[1], "--rename") == 0;
    if (rename) {
        --argc;
        ++argv;
    }
    if (argc != 3) {
        (void)std::fprintf(stderr, "usage: d88cut_floor [--rename] CONTAINER LIST\n");
        return 2;
    }
    std::size_t length = 0;
    if (!readAll(argv[2], list, sizeof list - 1, length)) {
        (void)std::fprintf(stderr, "%s: cannot read the list\n", argv[2]);
        return 2;
    }
    list[length] = '\0';
    const int container = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    if (container < 0) {
        (void)std::fprintf(stderr, "%s: cannot open\n", argv[1]);
        return 2;
    }
    char* line = list;
    while (*line != '\0') {
        char* end = nullptr;
        const long offset = std::strtol(line, &end, 10);
        const long size = std::strtol(end, &end, 10);
        while (*end == ' ') {
            ++end;
        }
        char* name = end;
        while (*end != '\n' && *end != '\0') {
            ++end;
        }
        const bool last = *end == '\0';
        *end = '\0';
        if (!cutOne(container, offset, size, name, rename)) {
            (void)std::fprintf(stderr, "%s: cannot cut\n", name);
            return 1;
        }
        if (last) {
            break;
        }
        line = end + 1;
    }
    (void)::close(container);
    return 0;
}
