// The printers: every line that tells what a run learnt of a container, its
// disks and its files starts here, from the run's records. A listing's text
// lines and JSON Lines are written here, to standard output; a cut's
// messages and what a person is told go to standard error (person.cc has
// the person's words).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>

#include "cutter/cutter.h"
#include "cutter/messages.h"

namespace d88cut {

namespace {

// Keys in the order written, "type" before "data" as a reader expects.
using json = nlohmann::ordered_json;

constexpr const char* kStateNames[] = {"whole", "damaged", "incomplete", "missing"};

const char* stateName(FileState state) { return kStateNames[static_cast<int>(state)]; }

// The media byte's name, or nullptr.
const char* mediaName(int media) {
    static constexpr const char* kMedia[] = {"2D", "2DD", "2HD", "1D", "1DD"};
    return media >= 0 && media % 0x10 == 0 && media / 0x10 < 5 ? kMedia[media / 0x10] : nullptr;
}

// True when `text` is well-formed UTF-8 (RFC 3629), as the JSON library
// judges it: it drops and replaces the same bytes only when there are none.
bool isUtf8(const std::string& text) {
    const json string = text;
    return string.dump(-1, ' ', false, json::error_handler_t::ignore) ==
           string.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string base64(const std::string& bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i])) << 16;
        const std::size_t left = bytes.size() - i;
        if (left > 1) {
            group |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i + 1])) << 8;
        }
        if (left > 2) {
            group |= static_cast<std::uint8_t>(bytes[i + 2]);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            text += k <= left ? kDigits[(group >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return text;
}

// Text that may not be UTF-8 (a path): as text where it is, else its bytes
// in base64.
json textObject(const std::string& bytes) {
    return isUtf8(bytes) ? json{{"text", bytes}} : json{{"bytes", base64(bytes)}};
}

// A disk's name as text, in `text`: as it is where it is UTF-8, else decoded
// from Shift_JIS, in which most of these disks were named; false where it is
// neither.
bool nameText(const std::string& bytes, std::string& text) {
    if (isUtf8(bytes)) {
        text = bytes;
        return true;
    }
    return decodeShiftJis(bytes, text);
}

// A disk's name in JSON: as a path is, but where its bytes are Shift_JIS,
// their text beside them.
json nameObject(const std::string& bytes) {
    std::string text;
    if (isUtf8(bytes) || !decodeShiftJis(bytes, text)) {
        return textObject(bytes);
    }
    return {{"text", text}, {"bytes", base64(bytes)}};
}

// "disk N "NAME" MEDIA: " of a disk: printable ASCII as it is, a quote and
// a backslash escaped, any other byte as \xHH; the media by name or number.
// For a screen that shows text (`asText`) the name is shown as its text
// where it is text, only its control characters escaped, as their bytes.
std::string diskLine(const DiskReport& disk, bool asText) {
    std::string text;
    const bool decoded = asText && nameText(disk.name, text);
    const std::string& name = decoded ? text : disk.name;
    std::string line = "disk " + std::to_string(disk.number) + " \"";
    const auto escape = [&line](char ch) {
        char escaped[8];
        (void)std::snprintf(escaped, sizeof escaped, "\\x%02X",
                            static_cast<unsigned>(static_cast<std::uint8_t>(ch)));
        line += escaped;
    };
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<std::uint8_t>(name[i]);
        if (byte == '"' || byte == '\\') {
            line += {'\\', name[i]};
        } else if (byte >= 0x20 && byte <= 0x7E) {
            line += name[i];
        } else if (!decoded || byte < 0x80) {
            escape(name[i]);
        } else if (byte == 0xC2 && static_cast<std::uint8_t>(name[i + 1]) < 0xA0) {
            // U+0080 to U+009F, the C1 controls.
            escape(name[i]);
            escape(name[++i]);
        } else {
            line += name[i];
        }
    }
    char media[8];
    (void)std::snprintf(media, sizeof media, "0x%02X", static_cast<unsigned>(disk.media & 0xFF));
    const char* named = mediaName(disk.media);
    return line + "\" " + (named != nullptr ? named : media) + ": ";
}

// One JSON Lines object on standard output. Every string in it is UTF-8 by
// then; were one not, it would be written with replacement characters
// rather than throw.
void emit(const char* type, json data) {
    const json line = {{"type", type}, {"data", std::move(data)}};
    (void)std::fputs((line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n").c_str(),
                     stdout);
}

json intOrNull(std::int64_t value) { return value >= 0 ? json(value) : json(nullptr); }

// A line about the container and its disks that a listing prints: with -v
// a cut tells it on standard error too, and without it where it tells a
// failure that has no message of its own.
void listed(Run& run, const std::string& line, bool failure = false) {
    if (run.mode == Mode::List && run.screen(stdout) == Screen::Console) {
        writeConsole(stdout, nullptr, line.c_str());
    } else if (run.mode == Mode::List) {
        (void)std::fputs(line.c_str(), stdout);
    } else if (run.mode == Mode::Cut && (run.verbose || failure)) {
        tell(run, line);
    }
}

int containerNumber(const Run& run) { return run.containerIndex + 1; }

// Files counted by state, `counts` indexed by FileState.
json stateCounts(const int (&counts)[4]) {
    json object;
    for (const FileState state :
         {FileState::Whole, FileState::Damaged, FileState::Incomplete, FileState::Missing}) {
        object[stateName(state)] = counts[static_cast<int>(state)];
    }
    return object;
}

}  // namespace

void printContainer(Run& run, std::int64_t size) {
    if (run.mode == Mode::Json) {
        emit("container", {{"container", containerNumber(run)},
                           {"path", textObject(run.containerPath)},
                           {"size", intOrNull(size)}});
    } else if (run.mode == Mode::List && run.containerCount > 1) {
        (void)std::printf("%s%s:\n", run.containerIndex > 0 ? "\n" : "",
                          bytesOf(run.containerPath, run.writesUtf8(stdout)).c_str());
    }
}

void printContainerEnd(Run& run, int status) {
    if (run.mode != Mode::Json) {
        return;
    }
    emit("end", {{"container", containerNumber(run)},
                 {"status", status},
                 {"disks", run.tally.disks},
                 {"known_disks", run.tally.knownDisks},
                 {"files", stateCounts(run.tally.files)}});
}

void printDisk(Run& run, const DiskReport& disk) {
    if (run.mode == Mode::Json) {
        const char* media = mediaName(disk.media);
        emit("disk", {{"container", containerNumber(run)},
                      {"number", disk.number},
                      {"offset", disk.offset},
                      {"size", disk.statedSize},
                      {"name", nameObject(disk.name)},
                      {"media", {{"byte", disk.media}, {"name", media != nullptr ? json(media) : json(nullptr)}}},
                      {"write_protected", disk.writeProtected},
                      {"known", disk.known != nullptr ? json(disk.known) : json(nullptr)},
                      {"reason", disk.known == nullptr ? json(disk.reason) : json(nullptr)},
                      {"reason_code", disk.reasonCode != nullptr ? json(disk.reasonCode) : json(nullptr)},
                      {"reason_value", disk.reasonValue >= 0 ? json(disk.reasonValue) : json(nullptr)},
                      {"truncated_at", intOrNull(disk.truncatedAt)}});
    } else if (run.mode == Mode::Cut && disk.message != nullptr) {
        putMessage(run, stdout, nullptr, *disk.message);
    } else if (run.mode == Mode::List || run.verbose || disk.endsBeforeId) {
        const bool asText = run.showsText(run.mode == Mode::List ? stdout : stderr);
        listed(run,
               diskLine(disk, asText) +
                   (disk.known != nullptr ? disk.known : "not recognised: " + disk.reason) + "\n",
               disk.endsBeforeId);
    }
}

void printDiskEnd(Run& run, const DiskReport& disk) {
    if (disk.readsToEnd) {
        printNote(run, {NoteKind::ReadToEnd, -1, "", &disk});
    }
    if (disk.truncatedAt < 0) {
        return;
    }
    if (run.mode == Mode::Cut && !run.verbose && !disk.endsBeforeId && run.toPerson()) {
        tellContainer(run, "note.cut-short",
                      {{"at", std::to_string(disk.truncatedAt)},
                       {"disk", std::to_string(disk.number)},
                       {"size", std::to_string(disk.statedSize)}});
        return;
    }
    listed(run,
           "  (the file ends " + std::to_string(disk.truncatedAt) + " bytes into this disk image of " +
               std::to_string(disk.statedSize) + " bytes)\n",
           disk.endsBeforeId);
}

void printNote(Run& run, const Note& note) {
    const std::string limit = std::to_string(d88::kMaxDisks);
    const auto emitNote = [&run](json data) {
        json object = {{"kind", data["kind"]}, {"container", containerNumber(run)}};
        object.update(data);
        emit("note", std::move(object));
    };
    switch (note.kind) {
        case NoteKind::NoDiskImage:
            if (run.mode == Mode::Json) {
                emitNote({{"kind", "no_disk_image"},
                          {"file_size", note.fileSize},
                          {"header_size", d88::kDiskHeaderSize}});
            } else {
                listed(run, "no disk image: the file holds " + std::to_string(note.fileSize) +
                                " bytes, fewer than a disk header (" +
                                std::to_string(d88::kDiskHeaderSize) + ")\n");
            }
            return;
        case NoteKind::DisksBeyondLimit:
            if (run.mode == Mode::Json) {
                emitNote({{"kind", "disks_beyond_limit"}, {"limit", d88::kMaxDisks}});
            } else if (run.mode == Mode::Cut && !run.verbose && run.toPerson()) {
                tellContainer(run, "note.beyond-limit", {{"limit", limit}});
            } else {
                listed(run, "disks after the " + limit + "th: not read (at most " + limit +
                                " disk images are read)\n");
            }
            return;
        case NoteKind::CannotOpen:
        case NoteKind::ReadError:
            if (run.mode == Mode::Json) {
                emitNote({{"kind", note.kind == NoteKind::CannotOpen ? "cannot_open" : "read_error"},
                          {"reason", note.reason}});
            }
            return;
        case NoteKind::ReadToEnd: {
            const DiskReport& disk = *note.disk;
            if (run.mode == Mode::Json) {
                emitNote({{"kind", "read_to_end"},
                          {"disk", disk.number},
                          {"stated_size", disk.statedSize},
                          {"read_size", disk.readSize}});
            } else if (run.mode == Mode::Cut && !run.verbose && run.toPerson()) {
                tellContainer(run, "note.read-to-end",
                              {{"disk", std::to_string(disk.number)},
                               {"stated", std::to_string(disk.statedSize)},
                               {"size", std::to_string(disk.readSize)}});
            } else {
                listed(run, "  (this disk image states " + std::to_string(disk.statedSize) +
                                " bytes, fewer than its header; read as the rest of the file, " +
                                std::to_string(disk.readSize) + " bytes)\n");
            }
            return;
        }
    }
}

namespace {

// The sectors that failed a file, for programs: the words for people, and
// a code with its number.
json sectorsObject(const std::vector<SectorProblem>& sectors) {
    static constexpr const char* kCodes[] = {
        "id_crc_error", "data_crc_error",   "no_address_mark", "no_data_mark", "not_on_disk",
        "past_end_of_file", "holds", "record_kind", "other_size_code", "no_track_side"};
    json array = json::array();
    for (const SectorProblem& sector : sectors) {
        array.push_back({{"c", sector.c},
                         {"h", sector.h},
                         {"r", sector.problem == Problem::NoTrackSide ? json(nullptr) : json(sector.r)},
                         {"problem", problemWords(Language::English, sector)},
                         {"code", kCodes[static_cast<int>(sector.problem)]},
                         {"value", sector.value >= 0 ? json(sector.value) : json(nullptr)}});
    }
    return array;
}

// Where a file's bytes lie, sector by sector, for other tools: each
// sector's ID, where the file's first byte in it stands in the container
// (null where the sector is not there) and how many of its bytes lie there.
json layoutObject(const std::vector<SectorPlace>& places) {
    json array = json::array();
    for (const SectorPlace& place : places) {
        array.push_back({{"c", place.c},
                         {"h", place.h},
                         {"r", place.r},
                         {"position", place.data >= 0 ? json(place.data + place.from) : json(nullptr)},
                         {"length", place.length}});
    }
    return array;
}

}  // namespace

void printFile(Run& run, const FileReport& file, Fate fate, const Kept& kept) {
    if (run.mode == Mode::Json) {
        json deleted = json::array();
        for (const SectorId& sector : file.deleted) {
            deleted.push_back({{"c", sector.c}, {"h", sector.h}, {"r", sector.r}});
        }
        emit("file", {{"container", containerNumber(run)},
                      {"disk", file.disk},
                      {"name", file.name},
                      {"size", file.state == FileState::Missing ? json(nullptr) : json(file.size)},
                      {"state", stateName(file.state)},
                      {"read", file.read},
                      {"read_with_errors", file.readWithErrors},
                      {"sectors", sectorsObject(file.sectors)},
                      {"deleted_data", deleted},
                      {"layout", layoutObject(file.layout)}});
    } else if (run.mode == Mode::List) {
        const char* name = file.name;
        switch (file.state) {
            case FileState::Whole:
                (void)std::printf("  %s %d\n", name, file.size);
                break;
            case FileState::Damaged:
                (void)std::printf("  %s %d damaged (%d bytes read with errors)\n", name, file.size,
                                  file.readWithErrors);
                break;
            case FileState::Incomplete:
                if (file.readWithErrors > 0) {
                    (void)std::printf("  %s %d incomplete (%d bytes read, %d with errors)\n", name,
                                      file.size, file.read, file.readWithErrors);
                } else {
                    (void)std::printf("  %s %d incomplete (%d bytes read)\n", name, file.size,
                                      file.read);
                }
                break;
            case FileState::Missing:
                (void)std::printf("  %s missing\n", name);
                break;
        }
    } else if (kept.state != FileState::Whole && fate != Fate::NotWritten) {
        // What the folder now holds of the name: nothing, or not all of it.
        putMessage(run, stderr, file.name,
                   kept.state == FileState::Missing ? kCannotReadMessage : kIncompleteMessage);
    }
    tellFile(run, file, fate, kept);
}

void printPutDisk(Run& run, const Message& message) {
    if (run.mode != Mode::Json) {
        putMessage(run, stdout, nullptr, message);
    }
}

void printPut(Run& run, const char* name, const std::vector<SectorPlace>& places) {
    if (run.mode == Mode::Json) {
        emit("put", {{"container", containerNumber(run)},
                     {"disk", run.disk},
                     {"name", name},
                     {"layout", layoutObject(places)}});
    } else {
        (void)std::printf("%s%s\n", kPuttingLine, name);
    }
}

void printRefusal(Run& run, const std::string& name, const Refusal& refusal) {
    if (run.mode == Mode::Json) {
        json values = json::object();
        for (const auto& [key, value] : refusal.values) {
            const bool number = !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
            values[key] = number ? json(std::stoll(value)) : json(value);
        }
        emit("refused", {{"container", containerNumber(run)},
                         {"disk", run.disk > 0 ? json(run.disk) : json(nullptr)},
                         {"name", textObject(name)},
                         {"code", refusal.code},
                         {"values", values},
                         {"reason", words(Language::English, refusal.key, refusal.values)}});
    }
    tell(run, "d88cut: " + name + ": " +
                  words(run.language(stderr), refusal.frame,
                        {{"reason", words(run.language(stderr), refusal.key, refusal.values)}}) +
                  "\n");
}

void printRunEnd(Run& run, int status) {
    if (run.mode != Mode::Json) {
        return;
    }
    if (run.putting) {
        emit("summary", {{"status", status}, {"put", std::max(run.putCount, 0)}});
        return;
    }
    int files[4] = {};
    for (const DiskKind kind : {DiskKind::ProgramDisk, DiskKind::DiskA, DiskKind::DiskB}) {
        for (const CatalogEntry& entry : catalogFor(kind)) {
            const auto found = run.names.find(std::string_view(entry.name));
            if (entry.size == 0 || found == run.names.end()) {
                continue;
            }
            const Kept& kept = found->second;
            ++files[static_cast<int>(kept.state)];
            json from = json::array();
            for (const Source* source : sourcesOf(run, kept)) {
                from.push_back({{"container", source->containerNumber}, {"disk", source->disk}});
            }
            const bool held = kept.state != FileState::Missing;
            emit("result", {{"name", entry.name},
                            {"state", stateName(kept.state)},
                            {"size", held ? json(kept.bytes.size()) : json(nullptr)},
                            {"from", from},
                            {"sectors", sectorsObject(kept.sectors)}});
        }
    }
    emit("summary", {{"status", status}, {"containers", run.containerCount}, {"files", stateCounts(files)}});
}

}  // namespace d88cut
