// The lines for a person, on standard error: the messages in the encoding
// that the stream shows, the reasons why things fail, what a cut tells of
// its container, the closing line, all in the person's language where the
// screen shows it (words/*.txt). Into a pipe or a file they are English, as
// scripts have them.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "cutter/cutter.h"
#include "cutter/messages.h"

namespace d88cut {

namespace {

// "C1 H0 R3 (data CRC error)" where the drive flagged the sector, else
// "C29 H1 R3 not on the disk"; several joined by "; ".
std::string sectorWords(Language language, const std::vector<SectorProblem>& sectors) {
    std::string text;
    for (const SectorProblem& sector : sectors) {
        char id[48];
        (void)std::snprintf(id, sizeof id, "%sC%d H%d R%d", text.empty() ? "" : "; ", sector.c,
                            sector.h, sector.r);
        const bool flagged = sector.problem <= Problem::NoDataMark;
        text.append(id).append(flagged ? " (" : " ").append(problemWords(language, sector));
        text.append(flagged ? ")" : "");
    }
    return text;
}

// Why a file is not whole, after its name in the reason line.
std::string whyNotWhole(Language language, const FileReport& file) {
    std::string text;
    switch (file.state) {
        case FileState::Whole:
            return "";
        case FileState::Damaged:
            text = words(language, "reason.damaged", {{"count", std::to_string(file.readWithErrors)}});
            break;
        case FileState::Incomplete:
            text = words(language, "reason.incomplete",
                         {{"read", std::to_string(file.read)}, {"size", std::to_string(file.size)}});
            break;
        case FileState::Missing:
            text = words(language, "reason.missing");
            break;
    }
    std::string cause;
    if (file.cause == Cause::ReadError) {
        cause = words(language, "reason.read-error");
    } else if (file.cause == Cause::RecordLong) {
        cause = words(language, "reason.record-long", {{"length", std::to_string(file.size)},
                                                       {"count", std::to_string(file.readFor)}});
    }
    for (const std::string& part : {sectorWords(language, file.sectors), cause}) {
        text += part.empty() ? "" : ": " + part;
    }
    return text;
}

std::string files(Language language, std::size_t count) {
    return words(language, count == 1 ? "files.one" : "files.many",
                 {{"count", std::to_string(count)}});
}

const char* const kStateKeys[] = {"state.whole", "state.damaged", "state.incomplete"};

}  // namespace

std::string problemWords(Language language, const SectorProblem& sector) {
    static constexpr const char* kKeys[] = {
        "problem.id-crc",      "problem.data-crc", "problem.no-address-mark",
        "problem.no-data-mark", "problem.not-on-disk", "problem.past-end",
        "problem.holds",       "problem.record-kind"};
    char value[16];
    (void)std::snprintf(value, sizeof value, sector.problem == Problem::RecordKind ? "0x%04X" : "%d",
                        static_cast<unsigned>(sector.value));
    return words(language, kKeys[static_cast<int>(sector.problem)],
                 {{sector.problem == Problem::RecordKind ? "kind" : "count", value}});
}

Language Run::language(std::FILE* stream) {
    const Screen shown = screen(stream);
    const bool showsJapanese =
        shown == Screen::Console || (shown == Screen::Utf8Terminal && encoding != Encoding::ShiftJis);
    if (!japanese) {
        japanese = personReadsJapanese();
    }
    return showsJapanese && *japanese ? Language::Japanese : Language::English;
}

void tellFile(Run& run, const FileReport& file, const Written* kept) {
    const Language language = run.language(stderr);
    if (file.state != FileState::Whole) {
        explain(run, file.name, whyNotWhole(language, file));
    }
    if (kept != nullptr) {
        const std::string disk = std::to_string(kept->disk);
        const std::string& container = run.containers[kept->container];
        const std::string from =
            container == run.containerPath
                ? words(language, "reason.from-disk", {{"disk", disk}})
                : words(language, "reason.from-container", {{"disk", disk}, {"container", container}});
        explain(run, file.name,
                words(language, "reason.kept",
                      {{"state", words(language, kStateKeys[static_cast<int>(kept->state)])},
                       {"from", from}}));
    }
}

void tellContainer(Run& run, const char* key,
                   std::initializer_list<std::pair<std::string_view, std::string>> values) {
    tell(run, "d88cut: " + run.containerPath + ": " +
                  words(run.language(stderr), key, values) + "\n");
}

void printClosingLine(Run& run) {
    const Language language = run.language(stderr);
    // By state; Missing counts the names that could not be cut.
    std::size_t tally[4] = {};
    std::size_t folders = 0;
    const auto add = [&](const Run::Names& names) {
        folders += names.empty() ? 0U : 1U;
        for (const auto& [name, copy] : names) {
            ++tally[static_cast<std::size_t>(copy ? copy->state : FileState::Missing)];
        }
    };
    add(run.names);
    for (const auto& [folder, names] : run.otherFolders) {
        add(names);
    }
    const std::size_t notWritten = tally[static_cast<std::size_t>(FileState::Missing)];
    const std::size_t written = tally[0] + tally[1] + tally[2];
    std::string line;
    if (!run.knownDisk) {
        std::string command = "d88cut -l";
        for (const std::string& path : run.containers) {
            command += (path[0] == '-' ? " -- " : " ") + commandWord(path);
        }
        line = words(language, run.containers.size() > 1 ? "closing.none-many" : "closing.none",
                     {{"path", run.containerPath},
                      {"count", std::to_string(run.containers.size())},
                      {"partly", run.containerReadReported ? words(language, "closing.partly") : ""},
                      {"command", command}});
    } else {
        std::error_code error;
        const std::u8string here = std::filesystem::current_path(error).u8string();
        const std::string folder = folders > 1
                                       ? words(language, "closing.folders",
                                               {{"count", std::to_string(folders)}})
                                   : error ? std::string(".")
                                           : std::string(here.begin(), here.end());
        line = words(language, "closing.cut",
                     {{"files", files(language, written)}, {"folder", folder}});
        std::string kinds;
        for (const auto& [state, key] : {std::pair{FileState::Damaged, "closing.damaged"},
                                         std::pair{FileState::Incomplete, "closing.incomplete"}}) {
            if (const std::size_t count = tally[static_cast<std::size_t>(state)]; count != 0) {
                kinds += kinds.empty() ? "" : words(language, "closing.and");
                kinds += words(language, key, {{"count", std::to_string(count)}});
            }
        }
        line += kinds.empty() ? "" : words(language, "closing.kinds", {{"kinds", kinds}});
        line += notWritten == 0
                    ? ""
                    : words(language, "closing.not-cut", {{"files", files(language, notWritten)}});
    }
    tell(run, "d88cut: " + line + "\n");
}

void putMessage(Run& run, std::FILE* stream, const char* subject, const Message& message) {
    if (stream == stderr) {
        (void)std::fflush(stdout);  // keep the lines in order on a shared screen
    }
    const Screen screen = run.screen(stream);
    if (screen == Screen::Console) {
        writeConsole(stream, subject, message.utf8);
        return;
    }
    const bool utf8 = run.writesUtf8(stream);
    // One write for the whole line, so that it stays whole on a shared console.
    std::string line = subject != nullptr ? bytesOf(subject, utf8) : "";
    line += utf8 ? message.utf8 : message.shiftJis;
    (void)std::fputs(line.c_str(), stream);
    if (stream == stderr) {
        (void)std::fflush(stderr);  // some C runtimes buffer it when it is a file
    }
}

void tell(Run& run, const std::string& line) {
    (void)std::fflush(stdout);
    if (run.screen(stderr) == Screen::Console) {
        writeConsole(stderr, nullptr, line.c_str());
    } else {
        (void)std::fputs(bytesOf(line, run.writesUtf8(stderr)).c_str(), stderr);
        (void)std::fflush(stderr);
    }
}

void explain(Run& run, const std::string& path, const std::string& reason) {
    if (run.verbose || run.toPerson()) {
        tell(run, "d88cut: " + path + ": " + reason + "\n");
    }
}

}  // namespace d88cut
