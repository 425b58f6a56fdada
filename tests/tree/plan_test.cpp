// The plan for one folder: which names it refuses, and the order of its
// steps. Every plan is also carried out on a model of the folder, which
// checks after each single step that no two entries answer to one name.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "names/shortnames.h"
#include "tree/plan.h"

namespace {

using plan::Current;
using plan::Reason;
using plan::Verdict;
using plan::Wanted;

std::string Upper(const std::string& name)
{
    return shortnames::UpperAscii(name);
}

// The names every entry answers to, upper case; fails the test when two
// entries answer to one.
void ExpectUnique(const std::vector<Current>& folder, const std::string& when)
{
    std::map<std::string, std::size_t> owner;
    for (std::size_t e = 0; e < folder.size(); ++e) {
        std::set<std::string> own = {Upper(folder[e].name)};
        if (!folder[e].shortName.empty())
            own.insert(Upper(folder[e].shortName));
        for (const std::string& name : own) {
            const auto inserted = owner.emplace(name, e);
            EXPECT_TRUE(inserted.second) << name << " answers for entries " << inserted.first->second
                                         << " and " << e << " " << when;
        }
    }
}

// Carries the plan out on a copy of the folder, step by step, and returns
// the folder afterwards.
std::vector<Current> Apply(std::vector<Current> folder, const plan::Plan& made)
{
    ExpectUnique(folder, "before the first step");
    for (std::size_t s = 0; s < made.steps.size(); ++s) {
        const plan::Step& step = made.steps[s];
        EXPECT_EQ(folder[step.entry].shortName, step.from) << "step " << s;
        EXPECT_TRUE(shortnames::IsValidShortName(step.to.c_str())) << step.to;
        folder[step.entry].shortName = step.to;
        ExpectUnique(folder, "after step " + std::to_string(s));
    }
    return folder;
}

std::vector<std::string> Shorts(const std::vector<Current>& folder)
{
    std::vector<std::string> shorts;
    for (const Current& entry : folder)
        shorts.push_back(entry.shortName);
    return shorts;
}

struct PlanCase {
    const char* label;
    std::vector<Current> folder;
    std::vector<Wanted> wanted;
    std::vector<Verdict> verdicts;
    std::vector<std::string> after;   // every entry's short name afterwards
    std::size_t temporarySteps;
};

const PlanCase kCases[] = {
    {"a free name", {{"Program Files", "PROGRA~2"}}, {{0, "PROGRA~1"}},
     {Verdict::change}, {"PROGRA~1"}, 0},
    {"an entry without a short name", {{"Long name.txt", ""}}, {{0, "LONGNA~1.TXT"}},
     {Verdict::change}, {"LONGNA~1.TXT"}, 0},
    {"held already, in another letter case", {{"Program Files", "progra~1"}}, {{0, "PROGRA~1"}},
     {Verdict::done}, {"progra~1"}, 0},
    {"a long name that is its own short name", {{"README.TXT", ""}}, {{0, "readme.txt"}},
     {Verdict::done}, {""}, 0},
    {"two names swapped",
     {{"Microsoft Office", "MICROS~2"}, {"Microsoft Office 2", "MICROS~1"}},
     {{0, "MICROS~1"}, {1, "MICROS~2"}},
     {Verdict::change, Verdict::change}, {"MICROS~1", "MICROS~2"}, 1},
    {"three names rotated",
     {{"aaaa long", "AAAALO~2"}, {"aaaa longer", "AAAALO~3"}, {"aaaa longest", "AAAALO~1"}},
     {{0, "AAAALO~1"}, {1, "AAAALO~2"}, {2, "AAAALO~3"}},
     {Verdict::change, Verdict::change, Verdict::change}, {"AAAALO~1", "AAAALO~2", "AAAALO~3"}, 1},
    {"a chain: each frees the next one's name",
     {{"one long", "ONELON~2"}, {"one longer", "ONELON~3"}, {"one longest", ""}},
     {{0, "ONELON~1"}, {1, "ONELON~2"}, {2, "ONELON~3"}},
     {Verdict::change, Verdict::change, Verdict::change}, {"ONELON~1", "ONELON~2", "ONELON~3"}, 0},
    {"another entry's long name, letter case aside",
     {{"Long name.txt", "LONGNA~1.TXT"}, {"notes.txt", ""}}, {{0, "NOTES.TXT"}},
     {Verdict::conflict}, {"LONGNA~1.TXT", ""}, 0},
    {"a short name kept by an entry not listed",
     {{"Long name.txt", "LONGNA~2.TXT"}, {"Long name 2.txt", "longna~1.txt"}},
     {{0, "LONGNA~1.TXT"}},
     {Verdict::conflict}, {"LONGNA~2.TXT", "longna~1.txt"}, 0},
    {"a short name kept by an entry whose own move is refused",
     {{"alpha long", "ALPHAL~2"}, {"alpha longer", "ALPHAL~1"}, {"ALPHAL~3", ""}},
     {{0, "ALPHAL~1"}, {1, "ALPHAL~3"}},
     {Verdict::conflict, Verdict::conflict}, {"ALPHAL~2", "ALPHAL~1", ""}, 0},
    {"one name recorded for two entries",
     {{"first long", ""}, {"second long", ""}}, {{0, "SAME"}, {1, "same"}},
     {Verdict::conflict, Verdict::conflict}, {"", ""}, 0},
    {"invalid names",
     {{"a long", ""}, {"b long", ""}, {"c long", ""}, {"d long", ""}},
     {{0, "TOOLONGNAME"}, {1, "A.B.C"}, {2, "SP ACE"}, {3, "\xC3\x89T\xC3\x89"}},
     {Verdict::invalid, Verdict::invalid, Verdict::invalid, Verdict::invalid}, {"", "", "", ""}, 0},
    {"its own long name, in upper case",
     {{"plain.txt", "PLAIN~1.TXT"}}, {{0, "PLAIN.TXT"}},
     {Verdict::change}, {"PLAIN.TXT"}, 0},
    {"a swap next to names that look temporary",
     {{"VT000001.$$$", ""}, {"x long", "VT000002.$$$"}, {"p long", "PLONG~2"}, {"p longer", "PLONG~1"}},
     {{2, "PLONG~1"}, {3, "PLONG~2"}},
     {Verdict::change, Verdict::change}, {"", "VT000002.$$$", "PLONG~1", "PLONG~2"}, 1},
};

TEST(Plan, DecisionsStepsAndTheFolderAfterwards)
{
    for (const PlanCase& c : kCases) {
        SCOPED_TRACE(c.label);
        const plan::Plan made = plan::MakePlan(c.folder, c.wanted);
        ASSERT_EQ(made.decisions.size(), c.verdicts.size());
        for (std::size_t k = 0; k < c.verdicts.size(); ++k)
            EXPECT_EQ(static_cast<int>(made.decisions[k].verdict), static_cast<int>(c.verdicts[k]))
                << "wanted " << k;
        EXPECT_EQ(Shorts(Apply(c.folder, made)), c.after);
        std::size_t temporary = 0;
        for (const plan::Step& step : made.steps)
            temporary += step.temporary ? 1 : 0;
        EXPECT_EQ(temporary, c.temporarySteps);
    }
}

TEST(Plan, ConflictsNameTheEntryThatHoldsTheName)
{
    const std::vector<Current> folder = {
        {"Long name.txt", "LONGNA~2.TXT"}, {"notes.txt", ""}, {"Long name 2.txt", "LONGNA~1.TXT"}};
    const plan::Plan made =
        plan::MakePlan(folder, {{0, "NOTES.TXT"}});
    EXPECT_EQ(made.decisions[0].reason, Reason::longName);
    EXPECT_EQ(made.decisions[0].holder, 1u);
    const plan::Plan kept = plan::MakePlan(folder, {{0, "LONGNA~1.TXT"}});
    EXPECT_EQ(kept.decisions[0].reason, Reason::keptShortName);
    EXPECT_EQ(kept.decisions[0].holder, 2u);
    EXPECT_TRUE(kept.steps.empty());
}

TEST(Plan, ACycleStartsAndEndsWithTheSameEntryAndKeepsItsChainNumber)
{
    const std::vector<Current> folder = {{"Microsoft Office", "MICROS~2"},
                                         {"Microsoft Office 2", "MICROS~1"}};
    const plan::Plan made = plan::MakePlan(folder, {{0, "MICROS~1"}, {1, "MICROS~2"}});
    ASSERT_EQ(made.steps.size(), 3u);
    EXPECT_TRUE(made.steps[0].temporary);
    EXPECT_EQ(made.steps[0].to, "VT000001.$$$");
    EXPECT_EQ(made.steps[0].entry, made.steps[2].entry);
    EXPECT_EQ(made.steps[2].from, "VT000001.$$$");
    EXPECT_EQ(made.steps[0].chain, made.steps[2].chain);
    EXPECT_EQ(made.steps[1].chain, made.steps[2].chain);
}

// After a run stopped midway (one entry left on its temporary name), the
// same plan made again finishes the job.
TEST(Plan, ARunStoppedAfterAnyStepIsCompletedByTheNextOne)
{
    const std::vector<Current> folder = {
        {"r long", "RLONG~2"}, {"r longer", "RLONG~3"}, {"r longest", "RLONG~1"},
        {"s long", "SLONG~2"}, {"s longer", "SLONG~1"}, {"t long", ""}};
    const std::vector<Wanted> wanted = {{0, "RLONG~1"}, {1, "RLONG~2"}, {2, "RLONG~3"},
                                        {3, "SLONG~1"}, {4, "SLONG~2"}, {5, "TLONG~1"}};
    const plan::Plan full = plan::MakePlan(folder, wanted);
    for (std::size_t stop = 0; stop <= full.steps.size(); ++stop) {
        SCOPED_TRACE("stopped after " + std::to_string(stop) + " steps");
        std::vector<Current> state = folder;
        for (std::size_t s = 0; s < stop; ++s)
            state[full.steps[s].entry].shortName = full.steps[s].to;
        const std::vector<Current> after = Apply(state, plan::MakePlan(state, wanted));
        for (const Wanted& w : wanted)
            EXPECT_EQ(after[w.entry].shortName, w.shortName);
    }
}

// Random folders drawn from a few similar names, so that swaps, chains,
// cycles and clashes of every kind come up; checked for the invariants.
TEST(Plan, RandomFoldersKeepEveryNameUniqueAfterEveryStep)
{
    const std::vector<std::string> pool = {"A", "B", "C", "a.txt", "B.TXT", "LONG~1", "LONG~2",
                                           "LONG~3", "long~4", "VT000001.$$$", "bad name", ""};
    std::mt19937 random(20261211);
    for (int round = 0; round < 3000; ++round) {
        std::vector<Current> folder;
        std::set<std::string> used;
        const int size = 1 + static_cast<int>(random() % 6);
        for (int e = 0; e < size; ++e) {
            const std::string name = "entry " + std::to_string(e) + (random() % 2 ? " x" : "");
            std::string shortName = pool[random() % pool.size()];
            if (shortName == "bad name" || used.count(Upper(shortName)) != 0)
                shortName.clear();
            if (!shortName.empty())
                used.insert(Upper(shortName));
            folder.push_back(Current{name, shortName});
        }
        // A few entries whose long name is in the pool.
        if (random() % 3 == 0 && used.count("C") == 0)
            folder.push_back(Current{"c", ""});
        std::vector<Wanted> wanted;
        for (std::size_t e = 0; e < folder.size(); ++e) {
            if (random() % 4 != 0)
                wanted.push_back(Wanted{e, pool[random() % (pool.size() - 1)]});
        }
        SCOPED_TRACE("round " + std::to_string(round));
        const plan::Plan made = plan::MakePlan(folder, wanted);
        const std::vector<Current> after = Apply(folder, made);
        std::set<std::size_t> wantedEntries;
        for (std::size_t k = 0; k < wanted.size(); ++k) {
            const std::size_t e = wanted[k].entry;
            wantedEntries.insert(e);
            switch (made.decisions[k].verdict) {
            case Verdict::change:
                EXPECT_EQ(after[e].shortName, Upper(wanted[k].shortName));
                break;
            case Verdict::done:
                EXPECT_EQ(after[e].shortName, folder[e].shortName);
                break;
            case Verdict::invalid:
                EXPECT_FALSE(shortnames::IsValidShortName(wanted[k].shortName.c_str()));
                EXPECT_EQ(after[e].shortName, folder[e].shortName);
                break;
            case Verdict::conflict:
                EXPECT_EQ(after[e].shortName, folder[e].shortName);
                break;
            }
        }
        for (std::size_t e = 0; e < folder.size(); ++e) {
            if (wantedEntries.count(e) == 0) {
                EXPECT_EQ(after[e].shortName, folder[e].shortName) << "an entry not listed changed";
            }
        }
        if (HasFailure())
            return;
    }
}

}  // namespace
