#include "tree/plan.h"

#include <algorithm>
#include <utility>

#include "names/shortnames.h"

namespace plan {

namespace {

using shortnames::UpperAscii;

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Names and who holds them, sorted by name: a lookup is a binary search.
// (Sorted vectors rather than maps: everything here is compiled for the
// program's own processor, which the prebuilt library's maps are not.)
using NameIndex = std::vector<std::pair<std::string, std::size_t>>;

void Sort(NameIndex* index)
{
    std::sort(index->begin(), index->end());
}

std::pair<NameIndex::const_iterator, NameIndex::const_iterator> Holders(const NameIndex& index,
                                                                        const std::string& name)
{
    const auto first = std::lower_bound(
        index.begin(), index.end(), name,
        [](const std::pair<std::string, std::size_t>& held, const std::string& key) {
            return held.first < key;
        });
    auto last = first;
    while (last != index.end() && last->first == name)
        ++last;
    return {first, last};
}

bool Holds(const NameIndex& index, const std::string& name)
{
    const auto range = Holders(index, name);
    return range.first != range.second;
}

// A name no entry answers to and no step takes.
std::string FreeTemporaryName(const NameIndex& longNames, const NameIndex& shortNames,
                              const NameIndex& targets, unsigned* counter)
{
    for (;;) {
        // A folder holds fewer entries than there are numbers, so one is free.
        std::string digits = std::to_string(++*counter);
        if (digits.size() < 6)
            digits.insert(0, 6 - digits.size(), '0');
        std::string key = kTemporaryPrefix + digits + kTemporaryExtension;
        if (!Holds(longNames, key) && !Holds(shortNames, key) && !Holds(targets, key))
            return key;
    }
}

}  // namespace

Plan MakePlan(const std::vector<Current>& entries, const std::vector<Wanted>& wanted)
{
    Plan result;
    result.decisions.assign(wanted.size(), Decision{Verdict::done, Reason::none, kNone});

    NameIndex longNames;
    NameIndex shortNames;
    std::vector<std::string> currentShort(entries.size());
    for (std::size_t e = 0; e < entries.size(); ++e) {
        longNames.emplace_back(UpperAscii(entries[e].name), e);
        if (!entries[e].shortName.empty()) {
            currentShort[e] = UpperAscii(entries[e].shortName);
            shortNames.emplace_back(currentShort[e], e);
        }
    }
    Sort(&longNames);
    Sort(&shortNames);

    // Which entries are to move, and where to.
    std::vector<std::size_t> moverOf(entries.size(), kNone);   // entry -> index into wanted
    std::vector<std::string> target(wanted.size());
    for (std::size_t k = 0; k < wanted.size(); ++k) {
        const std::size_t e = wanted[k].entry;
        if (e >= entries.size() || moverOf[e] != kNone)
            continue;   // not an entry, or the entry's second wish: left as done
        if (!shortnames::IsValidShortName(wanted[k].shortName.c_str())) {
            result.decisions[k].verdict = Verdict::invalid;
            continue;
        }
        target[k] = UpperAscii(wanted[k].shortName);
        const bool answers = currentShort[e].empty() ? UpperAscii(entries[e].name) == target[k]
                                                     : currentShort[e] == target[k];
        if (answers)
            continue;
        result.decisions[k].verdict = Verdict::change;
        moverOf[e] = k;
    }

    auto conflict = [&](std::size_t k, Reason reason, std::size_t holder) {
        result.decisions[k] = Decision{Verdict::conflict, reason, holder};
        moverOf[wanted[k].entry] = kNone;
    };

    // One name recorded for two entries: neither gets it. Each names the
    // first of the others as the holder; the first names the second.
    NameIndex recorded;
    for (std::size_t k = 0; k < wanted.size(); ++k) {
        if (result.decisions[k].verdict == Verdict::change)
            recorded.emplace_back(target[k], k);
    }
    Sort(&recorded);
    for (std::size_t i = 0; i < recorded.size();) {
        std::size_t end = i + 1;
        while (end < recorded.size() && recorded[end].first == recorded[i].first)
            ++end;
        if (end - i > 1) {
            const std::size_t first = recorded[i].second;
            conflict(first, Reason::recordedTwice, wanted[recorded[i + 1].second].entry);
            for (std::size_t j = i + 1; j < end; ++j)
                conflict(recorded[j].second, Reason::recordedTwice, wanted[first].entry);
        }
        i = end;
    }

    // A name that stays with another entry cannot be taken. An entry that
    // is refused keeps its own short name, which may refuse another one in
    // turn: repeat until nothing changes.
    for (bool again = true; again;) {
        again = false;
        for (std::size_t k = 0; k < wanted.size(); ++k) {
            if (result.decisions[k].verdict != Verdict::change)
                continue;
            const std::size_t e = wanted[k].entry;
            const auto byLong = Holders(longNames, target[k]);
            for (auto held = byLong.first; held != byLong.second; ++held) {
                if (held->second != e) {
                    conflict(k, Reason::longName, held->second);
                    again = true;
                    break;
                }
            }
            if (result.decisions[k].verdict != Verdict::change)
                continue;
            const auto byShort = Holders(shortNames, target[k]);
            for (auto held = byShort.first; held != byShort.second; ++held) {
                const std::size_t holder = held->second;
                if (holder != e && moverOf[holder] == kNone) {
                    conflict(k, Reason::keptShortName, holder);
                    again = true;
                    break;
                }
            }
        }
    }

    // Order: an entry waits for the mover that holds its target now.
    NameIndex targets;   // target -> entry
    for (std::size_t k = 0; k < wanted.size(); ++k) {
        if (result.decisions[k].verdict == Verdict::change)
            targets.emplace_back(target[k], wanted[k].entry);
    }
    Sort(&targets);
    std::vector<std::size_t> waitsFor(entries.size(), kNone);
    std::vector<std::size_t> freedFor(entries.size(), kNone);   // who takes e's name
    for (std::size_t e = 0; e < entries.size(); ++e) {
        if (moverOf[e] == kNone)
            continue;
        const auto byShort = Holders(shortNames, target[moverOf[e]]);
        for (auto held = byShort.first; held != byShort.second; ++held) {
            const std::size_t holder = held->second;
            if (holder != e && moverOf[holder] != kNone) {
                waitsFor[e] = holder;
                freedFor[holder] = e;
            }
        }
    }

    std::vector<bool> placed(entries.size(), false);
    std::size_t chain = 0;
    auto addStep = [&](std::size_t e, const std::string& to, bool temporary, const std::string& from) {
        result.steps.push_back(Step{e, from, to, temporary, chain});
        placed[e] = true;
    };
    // Chains first: each starts with a move to a free name.
    for (std::size_t e = 0; e < entries.size(); ++e) {
        if (moverOf[e] == kNone || waitsFor[e] != kNone)
            continue;
        for (std::size_t x = e; x != kNone && !placed[x]; x = freedFor[x])
            addStep(x, target[moverOf[x]], false, entries[x].shortName);
        ++chain;
    }
    // What is left are cycles: one entry steps aside to a temporary name.
    unsigned counter = 0;
    for (std::size_t e = 0; e < entries.size(); ++e) {
        if (moverOf[e] == kNone || placed[e])
            continue;
        const std::string temporary = FreeTemporaryName(longNames, shortNames, targets, &counter);
        addStep(e, temporary, true, entries[e].shortName);
        for (std::size_t x = freedFor[e]; x != kNone && x != e; x = freedFor[x])
            addStep(x, target[moverOf[x]], false, entries[x].shortName);
        addStep(e, target[moverOf[e]], false, temporary);
        ++chain;
    }
    return result;
}

}  // namespace plan
