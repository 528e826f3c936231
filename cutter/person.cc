// The lines for a person, on standard error: the messages in the encoding
// that the stream shows, the reasons why things fail, what a cut tells of
// its container, the closing line, all in the person's language where the
// screen shows it (words/*.txt). Into a pipe or a file they are English, as
// scripts have them.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <system_error>

#include "cutter/cutter.h"
#include "cutter/messages.h"

namespace d88cut {

namespace {

// A sector by its ID, "C1 H0 R3", or its track side, "track side C28 H1".
std::string sectorName(Language language, const SectorProblem& sector) {
    if (sector.problem != Problem::NoTrackSide) {
        return sectorId(sector.c, sector.h, sector.r);
    }
    char side[32];
    (void)std::snprintf(side, sizeof side, "C%d H%d", sector.c, sector.h);
    return words(language, "sector.track-side", {{"side", side}});
}

// "C1 H0 R3 (data CRC error)" where the drive flagged the sector, else
// "C29 H1 R3 not on the disk"; several joined by "; ".
std::string sectorWords(Language language, const std::vector<SectorProblem>& sectors) {
    std::string text;
    for (const SectorProblem& sector : sectors) {
        const bool flagged = isFlag(sector.problem);
        text.append(text.empty() ? "" : "; ").append(sectorName(language, sector));
        text.append(flagged ? " (" : " ").append(problemWords(language, sector));
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

const char* const kStateKeys[] = {"state.whole", "state.damaged", "state.incomplete", "state.missing"};

}  // namespace

std::string sectorId(int c, int h, int r) {
    char id[40];
    (void)std::snprintf(id, sizeof id, "C%d H%d R%d", c, h, r);
    return id;
}

std::string problemWords(Language language, const SectorProblem& sector) {
    static constexpr const char* kKeys[] = {
        "problem.id-crc",      "problem.data-crc",     "problem.no-address-mark",
        "problem.no-data-mark", "problem.not-on-disk", "problem.past-end",
        "problem.holds",       "problem.record-kind",  "problem.other-size",
        "problem.not-on-disk"};
    char value[16];
    (void)std::snprintf(value, sizeof value, sector.problem == Problem::RecordKind ? "0x%04X" : "%d",
                        static_cast<unsigned>(sector.value));
    const char* key = kKeys[static_cast<int>(sector.problem)];
    if (sector.problem == Problem::Holds && sector.value == 0) {
        key = "problem.no-data";
    }
    std::string text = words(language, key, {{"count", value}, {"kind", value}, {"code", value}});
    // A flagged sector that held less than was wanted says so too.
    if (isFlag(sector.problem) && sector.value >= 0) {
        text += words(language, "problem.and");
        text += words(language, sector.value == 0 ? "problem.flagged-no-data" : "problem.holds",
                      {{"count", value}});
    }
    return text;
}

std::string sourceWords(Run& run, Language language, const Kept& kept) {
    std::string text;
    const std::vector<const Source*> sources = sourcesOf(run, kept);
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const Source& source = *sources[i];
        const std::string disk = std::to_string(source.disk);
        if (i > 0) {
            text += words(language, i + 1 == sources.size() ? "reason.and" : "reason.comma");
        }
        text += source.container == run.containerPath && run.containerCount == 1
                    ? words(language, "reason.from-disk", {{"disk", disk}})
                    : words(language, "reason.from-container",
                            {{"disk", disk}, {"container", source.container}});
    }
    return text;
}

Language Run::language(std::FILE* stream) {
    if (!showsText(stream)) {
        return Language::English;
    }
    if (!japanese) {
        japanese = personReadsJapanese();
    }
    return *japanese ? Language::Japanese : Language::English;
}

void tellFile(Run& run, const FileReport& file, Fate fate, const Kept& kept) {
    if (!run.verbose && !run.toPerson()) {
        return;  // nobody is told why
    }
    const Language language = run.language(stderr);
    if (file.state != FileState::Whole) {
        explain(run, file.name, whyNotWhole(language, file));
    }
    if (run.listing() || file.state == FileState::Missing) {
        return;
    }
    const std::string state = words(language, kStateKeys[static_cast<int>(kept.state)]);
    if (fate == Fate::Merged) {
        explain(run, file.name,
                words(language, "reason.merged", {{"from", sourceWords(run, language, kept)}, {"state", state}}));
    } else if (fate == Fate::Stays || (fate == Fate::NothingNew && file.state != FileState::Whole)) {
        explain(run, file.name,
                words(language, "reason.kept", {{"state", state}, {"from", sourceWords(run, language, kept)}}));
    }
}

void tellContainer(Run& run, const char* key,
                   std::initializer_list<std::pair<std::string_view, std::string>> values) {
    tell(run, "d88cut: " + run.containerPath + ": " +
                  words(run.language(stderr), key, values) + "\n");
}

void printClosingLine(Run& run) {
    const Language language = run.language(stderr);
    if (run.putting) {
        // How many files went into the new container, or were refused so
        // that it was not written.
        const char* key = run.putRefused > 0 ? "put.closing-refused"
                          : run.putCount < 0  ? nullptr
                          : !run.knownDisk    ? "put.closing-no-disk"
                          : run.putCount > 0  ? "put.closing"
                                              : "put.closing-none";
        if (key != nullptr) {
            const int count = run.putRefused > 0 ? run.putRefused : run.putCount;
            tell(run, "d88cut: " +
                          words(language, key,
                                {{"files", files(language, static_cast<std::size_t>(count))},
                                 {"path", run.newContainer},
                                 {"container", run.containerPath}}) +
                          "\n");
        }
        return;
    }
    // By state; Missing counts the names that could not be cut. The sectors
    // that no read gave clean, by known disk, each once.
    std::size_t tally[4] = {};
    std::size_t folders = 0;
    std::map<DiskKind, std::vector<SectorProblem>> again;
    const auto add = [&](const Run::Names& names) {
        folders += names.empty() ? 0U : 1U;
        for (const auto& [name, kept] : names) {
            ++tally[static_cast<std::size_t>(kept.state)];
            for (const SectorProblem& sector : kept.sectors) {
                std::vector<SectorProblem>& list = again[kept.kind];
                const auto same = [&](const SectorProblem& other) {
                    return other.c == sector.c && other.h == sector.h && other.r == sector.r;
                };
                if (sector.problem != Problem::RecordKind && std::none_of(list.begin(), list.end(), same)) {
                    list.push_back(sector);
                }
            }
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
                     {{"path", run.containers.empty() ? run.containerPath : run.containers.front()},
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
    line = "d88cut: " + line + "\n";
    // Last, the sectors to read again from the floppy.
    if (!again.empty()) {
        line += "d88cut: " + words(language, "closing.read-again") + "\n";
        for (auto& [kind, sectors] : again) {
            std::sort(sectors.begin(), sectors.end(), [](const SectorProblem& a, const SectorProblem& b) {
                return std::tie(a.c, a.h, a.r) < std::tie(b.c, b.h, b.r);
            });
            std::string list;
            for (const SectorProblem& sector : sectors) {
                list += (list.empty() ? "" : ", ") + sectorName(language, sector);
            }
            line += "  " + std::string(knownDiskName(kind)) + ": " + list + "\n";
        }
    }
    tell(run, line);
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

std::string failureWords(Language language, const WriteFailure& failure) {
    if (failure.key != nullptr) {
        return words(language, failure.key);
    }
    return failure.error != 0 ? systemWords(failure.error, language) : failure.systemText;
}

void explain(Run& run, const std::string& path, const std::string& reason) {
    if (run.verbose || run.toPerson()) {
        tell(run, "d88cut: " + path + ": " + reason + "\n");
    }
}

}  // namespace d88cut
