// What the folder holds of each catalogued name: the best bytes that the run
// has seen of it. Several reads of one disk fail each somewhere else, so a
// later copy that agrees with the kept bytes wherever both were read clean
// is merged with them byte by byte, each byte from the copy that gave it
// best; one that disagrees there, or has another length (another edition
// of the disk, or a drive that misread without saying so), is not merged:
// the better of the two copies is kept whole.
#include <algorithm>

#include "cutter/cutter.h"

namespace d88cut {

namespace {

int rank(FileState state) {
    switch (state) {
        case FileState::Whole:
            return 3;
        case FileState::Damaged:
            return 2;
        case FileState::Incomplete:
            return 1;
        case FileState::Missing:
            break;
    }
    return 0;
}

// The bytes given clean of `size` bytes so given.
std::size_t cleanBytes(const std::vector<Given>& given, std::size_t size) {
    return given.empty() ? size : static_cast<std::size_t>(std::count(given.begin(), given.end(), Given::Clean));
}

// The disk that gave byte `i` of what is kept, or -1.
int fromAt(const Kept& kept, std::size_t i) {
    if (!kept.from.empty()) {
        return kept.from[i];
    }
    return givenAt(kept.given, i) == Given::Lost ? -1 : kept.source;
}

// The state of bytes given so: a file of no bytes at all is whole.
FileState stateOf(const std::vector<Given>& given) {
    const auto lost = std::count(given.begin(), given.end(), Given::Lost);
    if (lost > 0) {
        return lost == std::ssize(given) ? FileState::Missing : FileState::Incomplete;
    }
    return cleanBytes(given, given.size()) < given.size() ? FileState::Damaged : FileState::Whole;
}

bool sameSector(const SectorProblem& a, const SectorProblem& b) {
    return a.c == b.c && a.h == b.h && a.r == b.r;
}

// Adds the sectors of a copy that gave nothing to those of a name of which
// nothing is held: what no read could give.
void addSectors(Kept& kept, const std::vector<SectorProblem>& sectors) {
    for (const SectorProblem& sector : sectors) {
        const bool known = std::any_of(kept.sectors.begin(), kept.sectors.end(),
                                       [&](const SectorProblem& k) { return sameSector(k, sector); });
        if (!known) {
            kept.sectors.push_back(sector);
        }
    }
}

// The copy as the folder would hold it alone.
Kept keptAlone(const FileReport& file, const std::uint8_t* bytes, int source, DiskKind kind) {
    Kept kept;
    kept.state = file.state;
    kept.kind = kind;
    kept.bytes.assign(bytes, bytes + file.size);
    kept.given = file.given;
    kept.source = source;
    kept.sectors = file.sectors;
    return kept;
}

// True when the copy and the kept bytes are one file read twice: of one
// length, and equal wherever both were read clean.
bool agrees(const Kept& kept, const FileReport& file, const std::uint8_t* bytes) {
    if (kept.bytes.size() != static_cast<std::size_t>(file.size)) {
        return false;
    }
    if (kept.given.empty() && file.given.empty()) {
        return std::equal(kept.bytes.begin(), kept.bytes.end(), bytes);
    }
    for (std::size_t i = 0; i < kept.bytes.size(); ++i) {
        if (givenAt(kept.given, i) == Given::Clean && givenAt(file.given, i) == Given::Clean &&
            kept.bytes[i] != bytes[i]) {
            return false;
        }
    }
    return true;
}

// True when `sector`, which failed copy `source`, accounts for a byte that
// the merged bytes still do not hold clean: one that that copy gave (from a
// flagged sector), or one that no copy gave and that the latest copy,
// `latest`, failed on too, where it was that copy's.
bool stillFails(const Kept& merged, const SectorProblem& sector, int source, int latest,
                const std::vector<SectorProblem>& latestSectors) {
    const int end = std::min(sector.at + sector.length, static_cast<int>(merged.given.size()));
    for (int i = std::max(sector.at, 0); i < end; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (merged.given[at] == Given::Flagged && merged.from[at] == source) {
            return true;
        }
        if (merged.given[at] == Given::Lost) {
            const bool latestLost = std::any_of(
                latestSectors.begin(), latestSectors.end(), [i](const SectorProblem& other) {
                    return i >= other.at && i < other.at + other.length;
                });
            if (source == latest || !latestLost) {
                return true;
            }
        }
    }
    return false;
}

// Merges the copy into the kept bytes: each byte from the copy that gave it
// best, the kept one where both gave it alike.
Kept merged(const Kept& kept, const FileReport& file, const std::uint8_t* bytes, int source) {
    Kept result = kept;
    const std::size_t size = result.bytes.size();
    result.from.resize(size);
    for (std::size_t i = 0; i < size; ++i) {
        result.from[i] = fromAt(kept, i);
    }
    result.given.resize(size, Given::Clean);
    for (std::size_t i = 0; i < size; ++i) {
        if (givenAt(file.given, i) > result.given[i]) {
            result.bytes[i] = bytes[i];
            result.given[i] = givenAt(file.given, i);
            result.from[i] = source;
        }
    }
    result.state = stateOf(result.given);
    // Each sector that still fails, told as the copy whose bytes stand there.
    result.sectors.clear();
    for (const SectorProblem& sector : kept.sectors) {
        const int from = sector.at < std::ssize(kept.bytes) ? fromAt(kept, static_cast<std::size_t>(sector.at)) : -1;
        if (stillFails(result, sector, from, source, file.sectors)) {
            result.sectors.push_back(sector);
        }
    }
    for (const SectorProblem& sector : file.sectors) {
        if (stillFails(result, sector, source, source, file.sectors)) {
            result.sectors.push_back(sector);
        }
    }
    std::stable_sort(result.sectors.begin(), result.sectors.end(),
                     [](const SectorProblem& a, const SectorProblem& b) { return a.at < b.at; });
    return result;
}

}  // namespace

const Kept& meetCopy(Run& run, Run::Names& names, const FileReport& file, const std::uint8_t* bytes,
                     Fate& fate, const std::function<bool(const Kept&, bool)>& write) {
    Kept& kept = names.try_emplace(file.name).first->second;
    kept.kind = run.kind;
    if (file.state == FileState::Missing || bytes == nullptr) {
        fate = Fate::Stays;
        if (kept.state == FileState::Missing) {
            addSectors(kept, file.sectors);
        }
        return kept;
    }
    // Its disk is a source of the run; the disks come one after another.
    if (run.sources.empty() || run.sources.back().containerNumber != run.containerIndex + 1 ||
        run.sources.back().disk != run.disk) {
        run.sources.push_back({run.containerPath, run.containerIndex + 1, run.disk});
    }
    const int source = static_cast<int>(run.sources.size()) - 1;
    Kept candidate;
    if (kept.state == FileState::Missing) {
        fate = Fate::First;
        candidate = keptAlone(file, bytes, source, run.kind);
    } else if (agrees(kept, file, bytes)) {
        candidate = merged(kept, file, bytes, source);
        fate = candidate.bytes == kept.bytes && candidate.state == kept.state ? Fate::NothingNew
                                                                              : Fate::Merged;
    } else {
        const bool better = rank(file.state) != rank(kept.state)
                                ? rank(file.state) > rank(kept.state)
                                : cleanBytes(file.given, static_cast<std::size_t>(file.size)) >=
                                      cleanBytes(kept.given, kept.bytes.size());
        if (!better) {
            fate = Fate::Stays;
            return kept;
        }
        fate = Fate::Replaces;
        candidate = keptAlone(file, bytes, source, run.kind);
    }
    // What the folder holds changes only once it is written; bytes that it
    // holds already need no writing, only their better account.
    if (fate != Fate::NothingNew && !write(candidate, kept.state != FileState::Missing)) {
        fate = Fate::NotWritten;
        return kept;
    }
    kept = std::move(candidate);
    return kept;
}

std::vector<const Source*> sourcesOf(const Run& run, const Kept& kept) {
    std::vector<int> indices(kept.from.begin(), kept.from.end());
    if (kept.from.empty() && kept.state != FileState::Missing) {
        indices.push_back(kept.source);
    }
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    std::vector<const Source*> sources;
    for (const int index : indices) {
        if (index >= 0 && static_cast<std::size_t>(index) < run.sources.size()) {
            sources.push_back(&run.sources[static_cast<std::size_t>(index)]);
        }
    }
    return sources;
}

}  // namespace d88cut
