// Putting files back: a copy of the container in which each file of a folder
// that is named as a catalogued file stands in the sectors that a cut reads
// that file from, on every recognised disk that catalogs it, and every other
// byte is as it was. Each file is checked before anything is written; the
// copy is written whole under its name, read back, and must give every file
// put when cut.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "cutter/cutter.h"
#include "cutter/messages.h"
#include "image/le.h"

namespace d88cut {

namespace {

constexpr int kRecordHeaderSize = 4;
constexpr std::uint8_t kStatusClean = 0x00;

using Bytes = std::vector<std::uint8_t>;

// A file of the folder that goes into one disk, and where its bytes go.
struct Put {
    const CatalogEntry* entry = nullptr;
    int disk = 0;  // from 1
    const Bytes* bytes = nullptr;
    std::vector<SectorPlace> places;
};

// The file `name` of the folder, read whole; nullopt where nothing has the
// name or a folder has it. False when the file is there but cannot be read,
// or where the system cannot tell whether it is there.
bool readFolderFile(const std::filesystem::path& folder, const char* name, std::optional<Bytes>& bytes) {
    std::error_code error;
    const std::filesystem::path path = folder / pathOf(name);
    const std::filesystem::file_type type = std::filesystem::status(path, error).type();
    bytes.reset();
    if (type == std::filesystem::file_type::not_found || type == std::filesystem::file_type::directory) {
        return true;
    }
    std::FILE* file = error ? nullptr : openToRead(path);
    if (file == nullptr) {
        return false;
    }
    Bytes read;
    std::uint8_t chunk[16384];
    std::size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        read.insert(read.end(), chunk, chunk + count);
    }
    const bool whole = std::ferror(file) == 0;
    (void)std::fclose(file);
    if (whole) {
        bytes = std::move(read);
    }
    return whole;
}

// The container's bytes, whole.
bool readContainer(Bytes& image) {
    const std::int64_t size = diskImage.fileSize();
    std::FILE* file = diskImage.file();
    if (size < 0 || file == nullptr || std::fseek(file, 0, SEEK_SET) != 0) {
        return false;
    }
    image.resize(static_cast<std::size_t>(size));
    return std::fread(image.data(), 1, image.size(), file) == image.size();
}

// What a cut of the current disk gives of `entry`: its bytes and what the
// disk gave, in `file`; nullptr where it gives nothing.
const std::uint8_t* cutOf(Run& run, const CatalogEntry& entry, FileReport& file) {
    const int c = entry.trackIndex >> 1;
    const int h = entry.trackIndex & 1;
    return entry.headered
               ? readRecord(run, file, entry.trackIndex, c, h, entry.sector, entry.offset, entry.size)
               : readRaw(run, file, entry.trackIndex, c, h, entry.sector, 3, entry.offset, entry.size);
}

// The catalogued file that begins later in the same sector as `entry`, or
// nullptr.
const CatalogEntry* nextInSector(DiskKind kind, const CatalogEntry& entry) {
    const CatalogEntry* next = nullptr;
    for (const CatalogEntry& other : catalogFor(kind)) {
        if (other.size != 0 && other.trackIndex == entry.trackIndex && other.sector == entry.sector &&
            other.offset > entry.offset && (next == nullptr || other.offset < next->offset)) {
            next = &other;
        }
    }
    return next;
}

// Why the file cannot go where the catalog has it on the current disk, or
// no code where it can; then `put.places` says where its bytes go. The
// latest run of the reader is a cut of the file from that disk.
Refusal plan(DiskKind kind, Put& put) {
    const CatalogEntry& entry = *put.entry;
    const Bytes& bytes = *put.bytes;
    const auto size = static_cast<int>(std::min<std::size_t>(bytes.size(), 0x7FFFFFFF));
    const std::string sizeText = std::to_string(bytes.size());
    if (!entry.headered && size != entry.size) {
        return {"size", "put.size", {{"size", sizeText}, {"expected", std::to_string(entry.size)}}};
    }
    if (entry.headered) {
        const std::uint32_t recordKind = bytes.size() >= kRecordHeaderSize ? d88::loadLe16(bytes.data()) : 0;
        if (recordKind != 0x0041 && recordKind != 0x0042) {
            return {"not_a_record", "put.no-record", {}};
        }
        const std::uint32_t length = d88::loadLe16(bytes.data() + 2);
        if (length != bytes.size()) {
            return {"record_length", "put.record-length", {{"length", std::to_string(length)}, {"size", sizeText}}};
        }
        if (size > entry.size - entry.offset) {
            return {"past_room", "put.past-room",
                    {{"length", sizeText}, {"room", std::to_string(entry.size - entry.offset)}}};
        }
        if (const CatalogEntry* next = nextInSector(kind, entry); next != nullptr && entry.offset + size > next->offset) {
            return {"into_next", "put.into-next",
                    {{"length", sizeText}, {"next", next->name}, {"at", std::to_string(next->offset)}}};
        }
    }
    put.places = placesOf(entry.offset, size);
    for (const SectorPlace& place : put.places) {
        if (!place.full) {
            return {"sector_missing", "put.no-sector", {{"sector", sectorId(place.c, place.h, place.r)}}};
        }
    }
    return {};
}

// True when a cut gave `bytes`: `given`, `file.size` of them (nullptr where
// it gave none).
bool gives(const FileReport& file, const std::uint8_t* given, const Bytes& bytes) {
    return given != nullptr && file.size == static_cast<int>(bytes.size()) &&
           std::equal(bytes.begin(), bytes.end(), given);
}

// "C0 H1 R1, C0 H1 R2, ..." of the sectors a file went into.
std::string placeWords(const std::vector<SectorPlace>& places) {
    std::string text;
    for (const SectorPlace& place : places) {
        text += (text.empty() ? "" : ", ") + sectorId(place.c, place.h, place.r);
    }
    return text;
}

// Tells that a file is not put, and why; the run fails.
void refuse(Run& run, const std::string& name, const Refusal& refusal) {
    run.runFailed = true;
    printRefusal(run, name, refusal);
}

// True when a cut of the new container gives every file put: each, read
// from the disk it was put into, whole and equal to the file. Else `missing`
// names the first that is not, and the run's disk is its disk.
bool givesBack(Run& run, const char* newPath, const std::vector<Put>& puts, std::string& missing) {
    run.disk = 0;
    if (!openContainer(diskImage, newPath)) {
        return false;
    }
    for (const Put& put : puts) {
        DiskKind kind = DiskKind::ProgramDisk;
        FileReport file;
        const std::uint8_t* bytes =
            identifyDisk(put.disk - 1, kind) ? cutOf(run, *put.entry, file) : nullptr;
        if (file.state != FileState::Whole || !gives(file, bytes, *put.bytes)) {
            missing = put.entry->name;
            run.disk = put.disk;
            (void)diskImage.open(nullptr);
            return false;
        }
    }
    (void)diskImage.open(nullptr);
    return !containerReadFailed(run);
}

// The temporary file of the new container: beside it, named after it (in
// the current folder of its drive where it is named so, as "C:new.d88").
std::string temporaryFor(const char* path) {
    const std::filesystem::path name = pathOf(path);
    std::filesystem::path file(u8".");
    file += name.filename();
    file += u8".d88cut";
    const std::u8string temporary = (name.parent_path() / file).u8string();
    return {temporary.begin(), temporary.end()};
}

}  // namespace

int runPut(Run& run, const char* newPath, const char* path, const char* directory) {
    run.containerPath = path;
    FileIdentity identity;
    if (!openContainer(diskImage, path) || !identify(diskImage.file(), identity)) {
        const int error = errno;
        (void)diskImage.open(nullptr);
        putMessage(run, stderr, nullptr, kCannotOpenMessage);
        explain(run, path, systemWords(error, run.language(stderr)));
        return 1;
    }
    run.containerFiles.push_back(identity);
    Bytes image;
    if (!readContainer(image)) {
        putMessage(run, stderr, path, kCannotReadMessage);
        (void)diskImage.open(nullptr);
        return 1;
    }
    const std::filesystem::path folder = pathOf(directory != nullptr ? directory : ".");
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        putMessage(run, stderr, directory, kCannotEnterMessage);
        explain(run, directory != nullptr ? directory : ".",
                error ? systemWords(error.value(), run.language(stderr))
                      : words(run.language(stderr), "why.not-a-folder"));
        return 1;
    }
    // Each file of the folder is read once, and checked for every disk it
    // goes into before anything is written.
    std::map<std::string, std::optional<Bytes>, std::less<>> files;
    std::vector<Put> puts;
    std::vector<std::pair<int, DiskKind>> disks;
    std::set<std::string_view> refused;  // names, each counted once however many disks
    for (int index = 0; index < diskImage.diskCount(); ++index) {
        DiskKind kind = DiskKind::ProgramDisk;
        if (!identifyDisk(index, kind)) {
            continue;
        }
        run.disk = index + 1;
        run.knownDisk = true;
        disks.emplace_back(run.disk, kind);
        for (const CatalogEntry& entry : catalogFor(kind)) {
            if (entry.size == 0) {
                break;
            }
            auto found = files.find(std::string_view(entry.name));
            if (found == files.end()) {
                found = files.try_emplace(entry.name).first;
                if (!readFolderFile(folder, entry.name, found->second)) {
                    refuse(run, entry.name, {"cannot_read", "put.cannot-read", {}});
                    refused.insert(entry.name);
                    continue;
                }
            }
            if (!found->second) {
                continue;
            }
            Put put{&entry, run.disk, &*found->second, {}};
            FileReport file;
            const std::uint8_t* given = cutOf(run, entry, file);
            if (gives(file, given, *put.bytes)) {
                continue;  // it changes nothing, not even a status
            }
            if (const Refusal refusal = plan(kind, put); refusal.code != nullptr) {
                refuse(run, entry.name, refusal);
                refused.insert(entry.name);
                continue;
            }
            puts.push_back(std::move(put));
        }
    }
    run.putRefused = static_cast<int>(refused.size());
    const bool readFailed = containerReadFailed(run);
    (void)diskImage.open(nullptr);
    if (readFailed || run.runFailed) {
        return 1;
    }
    // The new container is never the one read, however it is named.
    run.disk = 0;
    if (FileIdentity target; identifyPath(newPath, target) && target.device == identity.device &&
                             target.number == identity.number) {
        refuse(run, newPath, {"is_container", "put.is-container", {}, "put.not-written"});
        return 1;
    }
    for (const Put& put : puts) {
        auto byte = put.bytes->begin();
        for (const SectorPlace& place : put.places) {
            std::copy_n(byte, place.length, image.begin() + static_cast<std::ptrdiff_t>(place.data + place.from));
            image[static_cast<std::size_t>(place.data - d88::kSectorHeaderSize + d88::kStatusOffset)] = kStatusClean;
            byte += place.length;
        }
    }
    // What is put, told as a cut tells what it cuts.
    for (const auto& [disk, kind] : disks) {
        run.disk = disk;
        printPutDisk(run, recognitionOf(kind));
        for (const Put& put : puts) {
            if (put.disk == disk) {
                printPut(run, put.entry->name, put.places);
                explain(run, put.entry->name, words(run.language(stderr), "put.into", {{"sectors", placeWords(put.places)}}));
            }
        }
    }
    if (interrupted()) {
        endInterrupted();
    }
    WriteFailure failure;
    if (!replaceFile(newPath, temporaryFor(newPath), image.data(), static_cast<int>(image.size()), false,
                     run.containerFiles, failure)) {
        putMessage(run, stderr, newPath, kCannotWriteMessage);
        explain(run, failure.path, failureWords(run.language(stderr), failure));
        return 1;
    }
    std::string missing;
    if (!givesBack(run, newPath, puts, missing)) {
        std::filesystem::remove(pathOf(newPath), error);
        refuse(run, missing.empty() ? newPath : missing, {"not_given_back", "put.not-given-back", {{"path", newPath}}});
        return 1;
    }
    std::set<std::string_view> names;
    for (const Put& put : puts) {
        names.insert(put.entry->name);
    }
    run.putCount = static_cast<int>(names.size());
    return 0;
}

}  // namespace d88cut
