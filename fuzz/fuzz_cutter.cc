// Fuzz target: the input is a D88 container, or two that one run takes
// together (fuzz/next_container.h). It drives the container reader with call
// arguments taken from the input's last bytes, then runs the whole tool on
// it (a listing, as text and as JSON Lines, then a cut), writing the output
// files into a scratch directory of this process. Any crash, sanitizer
// report, leak or broken invariant is a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "cutter/cutter.h"
#include "fuzz/next_container.h"
#include "image/d88_image.h"

namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const char* what) {
    (void)std::fprintf(stderr, "fuzz_cutter: %s\n", what);
    std::abort();
}

void require(bool condition, const char* what) {
    if (!condition) {
        fail(what);
    }
}

// A directory of this process under the system's temporary directory,
// holding the containers as "input.d88" and "input2.d88" and the tool's
// output in "out/". Removed at exit.
class Scratch {
public:
    Scratch() {
        std::random_device random;
        const fs::path base = fs::temp_directory_path();
        std::error_code error;
        for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
            fs::path candidate = base / ("d88cut-fuzz-" + std::to_string(::getpid()) + "-" +
                                         std::to_string(random()));
            if (fs::create_directory(candidate, error)) {
                root_ = candidate;
            }
        }
        require(!root_.empty(), "cannot create a scratch directory");
        require(fs::create_directory(root_ / "out", error), "cannot create the output directory");
        containers_[0] = (root_ / "input.d88").string();
        containers_[1] = (root_ / "input2.d88").string();
    }
    ~Scratch() {
        std::error_code error;
        fs::remove_all(root_, error);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    [[nodiscard]] fs::path output() const { return root_ / "out"; }
    [[nodiscard]] const std::string& container(std::size_t index) const { return containers_[index]; }
    [[nodiscard]] std::string jsonListing() const { return (root_ / "listing.jsonl").string(); }

private:
    fs::path root_;
    std::string containers_[2];
};

// Makes the scratch output directory the current one while it lives. The
// fuzzer's own paths (corpus, findings) may be relative, so the current
// directory is changed only around the tool's run.
class InOutputDirectory {
public:
    explicit InOutputDirectory(const fs::path& dir) {
        std::error_code error;
        previous_ = fs::current_path(error);
        require(!error, "cannot tell the current directory");
        fs::current_path(dir, error);
        require(!error, "cannot enter the output directory");
    }
    ~InOutputDirectory() {
        std::error_code error;
        fs::current_path(previous_, error);
        require(!error, "cannot return to the previous directory");
    }
    InOutputDirectory(const InOutputDirectory&) = delete;
    InOutputDirectory& operator=(const InOutputDirectory&) = delete;

private:
    fs::path previous_;
};

Scratch& scratch() {
    static Scratch instance;
    return instance;
}

// Call arguments from the input's last bytes, read round and round; all 0
// for an empty input.
class Arguments {
public:
    Arguments(const std::uint8_t* data, std::size_t size)
        : data_(data + (size > kTail ? size - kTail : 0)), size_(size > kTail ? kTail : size) {}

    std::uint8_t byte() {
        if (size_ == 0) {
            return 0;
        }
        const std::uint8_t value = data_[next_ % size_];
        ++next_;
        return value;
    }
    // -32768..32767
    int wide() {
        const auto low = static_cast<unsigned>(byte());
        const auto high = static_cast<unsigned>(byte());
        return static_cast<int>(
            static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8))));
    }
    // -128..127
    int narrow() { return static_cast<int>(static_cast<std::int8_t>(byte())); }
    // A value around 0..limit - 1, now and then outside it.
    int around(int limit) { return wide() % (limit + limit / 4); }

private:
    static constexpr std::size_t kTail = 48;
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t next_ = 0;
};

// Sector reads with arguments from the input; their results must stay
// within what the caller allowed.
void readSectors(d88::D88Image& image, Arguments& args) {
    const int track = args.around(d88::kTrackCount);
    const int c = args.around(256);
    const int h = args.around(256);
    const int r = args.around(256);
    const int n = args.narrow();
    const int length = args.wide();
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(length > 0 ? length : 1));

    const int sector = image.readSector(track, c, h, r, n, buffer.data(), length);
    require(sector >= 0 && sector <= (length > 0 ? length : 0), "readSector went out of bounds");
    const int run = image.readRun(track, c, h, r, n, buffer.data(), length);
    require(run >= 0 && run <= (length > 0 ? length : 0), "readRun went out of bounds");
    const int readOn = image.readRun(track, c, h, r, n, buffer.data(), length, d88::RunMode::ReadOn);
    require(readOn >= run && readOn <= (length > 0 ? length : 0), "a run that reads on went out of bounds");
    const int ids = image.listSectorIds(track, buffer.data(), length);
    require(ids >= 0 && ids % 4 == 0 && ids <= (length > 0 ? length : 0),
            "listSectorIds went out of bounds");
}

// The reader on its own: the scan, every disk selected (and two indexes out
// of range), reads on each, then reads after closing. Each disk's name goes
// to `names`.
void driveReader(const std::string& path, Arguments& args, std::vector<std::string>& names) {
    d88::D88Image image;
    require(image.open(path.c_str()), "the container does not open");
    const int count = image.diskCount();
    require(count >= 0 && count <= d88::kMaxDisks, "disk count out of range");
    for (int index = -1; index <= count; ++index) {
        image.setSectorRange(args.narrow(), args.around(256));
        const bool selected = image.selectDisk(index);
        require(selected == (index >= 0 && index < count), "selectDisk result");
        require(selected == (image.mediaType() >= 0), "media type after selection");
        require(std::strlen(image.diskName()) <= static_cast<std::size_t>(d88::kDiskNameSize),
                "disk name too long");
        if (selected) {
            names.emplace_back(image.diskName());
        }
        readSectors(image, args);
    }
    (void)image.open(nullptr);
    std::uint8_t sector[4] = {};
    require(image.readSector(0, 0, 0, 1, 3, sector, 4) == 0, "read after closing");
}

// Every file the tool leaves must be a catalogued one of the right size: no
// temporary file, nothing half written. Empties the directory.
void checkAndClearOutput() {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(".", error)) {
        const std::string name = entry.path().filename().string();
        const d88cut::CatalogEntry* row = nullptr;
        for (d88cut::DiskKind kind :
             {d88cut::DiskKind::ProgramDisk, d88cut::DiskKind::DiskA, d88cut::DiskKind::DiskB}) {
            for (const d88cut::CatalogEntry& candidate : d88cut::catalogFor(kind)) {
                if (candidate.size != 0 && name == candidate.name) {
                    row = &candidate;
                }
            }
        }
        require(row != nullptr, "a file that is not in any catalog was left");
        require(entry.is_regular_file(), "an output is not a regular file");
        const std::uintmax_t size = entry.file_size();
        require(row->headered ? size <= static_cast<std::uintmax_t>(d88cut::kMaxRecordLength)
                              : size == static_cast<std::uintmax_t>(row->size),
                "an output file has the wrong size");
        fs::remove(entry.path(), error);
        require(!error, "cannot remove an output file");
    }
    require(!error, "cannot list the output directory");
}

// Runs the tool with `options` on the containers `paths`; the result is its
// status.
int runTool(std::initializer_list<const char*> options, const std::vector<std::string>& paths) {
    std::vector<const char*> argv = {"d88cut"};
    argv.insert(argv.end(), options.begin(), options.end());
    for (const std::string& path : paths) {
        argv.push_back(path.c_str());
    }
    const int status = d88cut::runCutter(static_cast<int>(argv.size()), argv.data());
    (void)d88cut::diskImage.open(nullptr);
    d88cut::SectorBuffer.fill(0);
    return status;
}

// The listing as JSON Lines, with the status of the text listing: every
// line is JSON (RFC 8259, UTF-8) of a type and its data, each container
// from its object to its end, and the run's summary last, which tells the
// status; a disk name that is UTF-8 comes back as it is.
void checkJsonListing(const std::vector<std::string>& paths, int status,
                      const std::vector<std::string>& names) {
    const std::string listing = scratch().jsonListing();
    require(std::freopen(listing.c_str(), "w", stdout) != nullptr, "cannot send the listing to a file");
    const int listed = runTool({"--json"}, paths);
    require(std::freopen("/dev/null", "w", stdout) != nullptr, "cannot silence standard output");
    require(listed == status, "the JSON listing's status differs from the listing's");
    std::ifstream in(listing, std::ios::binary);
    std::vector<nlohmann::json> lines;
    std::size_t containers = 0;
    std::size_t ends = 0;
    for (std::string text; std::getline(in, text);) {
        lines.push_back(nlohmann::json::parse(text, nullptr, false));
        const nlohmann::json& line = lines.back();
        require(!line.is_discarded() && line.is_object() && line.size() == 2 &&
                    line.contains("type") && line.contains("data"),
                "a JSON line that is not JSON of a type and its data");
        const nlohmann::json& data = line.at("data");
        containers += line.at("type") == "container" ? 1U : 0U;
        ends += line.at("type") == "end" ? 1U : 0U;
        // A name given as text alone is the disk's bytes as they are.
        if (line.at("type") == "disk" && data.at("container") == 1 && data.at("name").contains("text") &&
            !data.at("name").contains("bytes")) {
            const auto number = data.at("number").get<std::size_t>();
            require(number >= 1 && number <= names.size() &&
                        data.at("name").at("text") == names[number - 1],
                    "a disk name in JSON that is not the disk's");
        }
    }
    require(!lines.empty() && lines.front().at("type") == "container" && containers == paths.size() &&
                ends == paths.size() && lines.back().at("type") == "summary" &&
                lines.back().at("data").at("status") == status,
            "the JSON listing does not run from its container to its summary");
}

// libFuzzer writes a finding while the tool runs, that is in the scratch
// directory: its artifact paths are made absolute here, the default "./"
// included, so that findings land where they were asked for.
void makeArtifactPathsAbsolute(int* argc, char*** argv) {
    static std::vector<std::string> arguments;
    static std::vector<char*> pointers;
    const fs::path here = fs::current_path();
    bool prefixGiven = false;
    for (int i = 0; i < *argc; ++i) {
        std::string argument = (*argv)[i];
        for (const std::string flag : {"-artifact_prefix=", "-exact_artifact_path="}) {
            if (argument.rfind(flag, 0) == 0) {
                prefixGiven = true;
                const std::string value = argument.substr(flag.size());
                if (!value.empty() && value[0] != '/') {
                    argument = flag + (here / value).string();
                }
            }
        }
        arguments.push_back(argument);
    }
    if (!prefixGiven) {
        arguments.push_back("-artifact_prefix=" + here.string() + "/");
    }
    for (std::string& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    *argc = static_cast<int>(arguments.size());
    *argv = pointers.data();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    makeArtifactPathsAbsolute(argc, argv);
    (void)std::fprintf(stderr, "fuzz_cutter: output files go to %s\n", scratch().output().c_str());
    // The tool's progress lines would only slow the run down.
    require(std::freopen("/dev/null", "w", stdout) != nullptr, "cannot silence standard output");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One container, or two.
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t mark = input.find(d88fuzz::kNextContainer);
    const std::string_view parts[] = {
        input.substr(0, mark),
        mark == std::string_view::npos ? std::string_view() : input.substr(mark + d88fuzz::kNextContainer.size())};
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < (mark == std::string_view::npos ? 1U : 2U); ++i) {
        paths.push_back(scratch().container(i));
        std::FILE* file = std::fopen(paths.back().c_str(), "wb");
        require(file != nullptr, "cannot create the container");
        const bool written =
            parts[i].empty() || std::fwrite(parts[i].data(), 1, parts[i].size(), file) == parts[i].size();
        require(std::fclose(file) == 0 && written, "cannot write the container");
    }

    Arguments args(data, size);
    std::vector<std::string> names;
    driveReader(paths.front(), args, names);

    // The whole tool, as from the command line. Each run has its state of
    // its own; the one buffer is set back as a fresh process would have it.
    d88cut::SectorBuffer.fill(0);
    const InOutputDirectory inOutput(scratch().output());
    std::error_code error;
    // A listing first, which must write nothing; then the cut. Status 1
    // tells of files the disks could not give whole.
    const int listed = runTool({"--list"}, paths);
    require(listed == 0 || listed == 1, "the listing's status");
    require(fs::is_empty(".", error), "the listing wrote a file");
    checkJsonListing(paths, listed, names);
    require(fs::is_empty(".", error), "the JSON listing wrote a file");
    require(runTool({}, paths) == listed, "the cut's status differs from the listing's");
    (void)std::fflush(stdout);
    checkAndClearOutput();
    return 0;
}
