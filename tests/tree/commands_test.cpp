// velmora-tree's commands over the scripted platform: the reports and exit
// codes of what a real volume does only by accident (a change that fails,
// an undo that fails too, a privilege refused), and save's walk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_tree_platform.h"
#include "tree/tree.h"

namespace {

using faketree::state;

const std::string kHeader = "velmora-tree listing 1\n";

int RunTree(std::vector<std::string> args)
{
    args.insert(args.begin(), "velmora-tree");
    return TreeMain(args);
}

class Commands : public ::testing::Test {
protected:
    void SetUp() override { faketree::Reset(); }

    static void File(const std::string& path, const char* shortName)
    {
        state.items[path] = faketree::Item{shortName, false};
    }
    static void Folder(const std::string& path, const char* shortName)
    {
        state.items[path] = faketree::Item{shortName, true};
    }
};

TEST_F(Commands, AFailedChangeUndoesItsChainAndTheOthersGoOn)
{
    File("a long", "ALONG~2");
    File("a longer", "ALONG~3");
    File("b long", "");
    state.files["l"] = kHeader + "ALONG~1\ta long\nALONG~2\ta longer\nBLONG~1\tb long\n";
    state.failures["a longer>ALONG~2"] = 5;

    EXPECT_EQ(RunTree({"restore", "R", "l"}), kTreeDifferences);
    EXPECT_EQ(state.out,
              "failed\tALONG~1\ta long\tnot changed: the change of a longer in the same chain failed\n"
              "failed\tALONG~2\ta longer\terror 5: text 5.\n"
              "changed\tBLONG~1\tb long\twas none\n"
              "restore: 3 listed, 1 changed, 0 already right, 0 in conflict, 0 missing, "
              "0 invalid, 2 failed\n");
    EXPECT_EQ(state.err, "");
    EXPECT_EQ(state.changes, (std::vector<std::string>{"a long>ALONG~1", "a longer>ALONG~2",
                                                       "a long>ALONG~2", "b long>BLONG~1"}));
    EXPECT_EQ(state.items["a long"].shortName, "ALONG~2");
    EXPECT_EQ(state.items["a longer"].shortName, "ALONG~3");
}

TEST_F(Commands, AnUndoThatFailsSaysWhatTheItemHolds)
{
    File("x long", "XLONG~2");
    File("x longer", "XLONG~1");
    state.files["l"] = kHeader + "XLONG~1\tx long\nXLONG~2\tx longer\n";
    state.failures["x longer>XLONG~2"] = 5;
    state.failures["x long>XLONG~2"] = 32;

    EXPECT_EQ(RunTree({"restore", "R", "l"}), kTreeDifferences);
    EXPECT_EQ(state.out,
              "failed\tXLONG~1\tx long\tholds VT000001.$$$: undoing it failed, error 32: text 32.\n"
              "failed\tXLONG~2\tx longer\terror 5: text 5.\n"
              "restore: 2 listed, 0 changed, 0 already right, 0 in conflict, 0 missing, "
              "0 invalid, 2 failed\n");
    EXPECT_EQ(state.items["x long"].shortName, "VT000001.$$$");
    // A run once the cause is gone finishes the job.
    state.failures.clear();
    state.out.clear();
    EXPECT_EQ(RunTree({"restore", "R", "l"}), kTreeSuccess);
    EXPECT_EQ(state.items["x long"].shortName, "XLONG~1");
    EXPECT_EQ(state.items["x longer"].shortName, "XLONG~2");
}

TEST_F(Commands, AfterAFailedUndoTheEarlierStepsStay)
{
    // A chain of three: "c" takes a free name, "b" takes c's, "a" takes
    // b's. "a" fails, b's undo fails: undoing "c" would give it the name
    // "b" still holds.
    File("a long", "ALONG~3");
    File("b long", "ALONG~2");
    File("c long", "ALONG~1");
    state.files["l"] = kHeader + "ALONG~2\ta long\nALONG~1\tb long\nALONG~9\tc long\n";
    state.failures["a long>ALONG~2"] = 5;
    state.failures["b long>ALONG~2"] = 32;

    EXPECT_EQ(RunTree({"restore", "R", "l"}), kTreeDifferences);
    EXPECT_EQ(state.changes, (std::vector<std::string>{"c long>ALONG~9", "b long>ALONG~1",
                                                       "a long>ALONG~2", "b long>ALONG~2"}));
    EXPECT_EQ(state.out,
              "failed\tALONG~2\ta long\terror 5: text 5.\n"
              "failed\tALONG~1\tb long\tholds ALONG~1: undoing it failed, error 32: text 32.\n"
              "failed\tALONG~9\tc long\tholds ALONG~9: not undone, as an undo after it failed\n"
              "restore: 3 listed, 0 changed, 0 already right, 0 in conflict, 0 missing, "
              "0 invalid, 3 failed\n");
}

TEST_F(Commands, ARefusedPrivilegeChangesNothingButADryRunNeedsNone)
{
    File("x long", "XLONG~2");
    state.files["l"] = kHeader + "XLONG~1\tx long\n";
    state.privilegeError = 1314;

    EXPECT_EQ(RunTree({"restore", "R", "l"}), kTreeCannotWork);
    EXPECT_EQ(state.out, "");
    EXPECT_EQ(state.err, "velmora-tree: cannot enable the restore privilege: AdjustTokenPrivileges "
                         "failed, error 1314: text 1314.\n");
    EXPECT_TRUE(state.changes.empty());

    state.err.clear();
    EXPECT_EQ(RunTree({"restore", "--dry-run", "R", "l"}), kTreeDifferences);
    EXPECT_EQ(state.out, "step\tXLONG~1\tx long\tfrom XLONG~2\n"
                         "restore --dry-run: 1 listed, 1 to change in 1 steps (0 temporary), "
                         "0 already right, 0 in conflict, 0 missing, 0 invalid, 0 failed\n");
    EXPECT_TRUE(state.changes.empty());
}

TEST_F(Commands, SaveWalksFoldersButNotLinksAndLeavesOutNamesThatAreTheirOwn)
{
    Folder("Long folder", "LONGFO~1");
    File("Long folder/inner file.txt", "INNERF~1.TXT");
    File("Junction", "JUNCTI~1");               // listed, never walked into
    File("Junction/behind.txt", "BEHIND~1.TXT");
    File("README.TXT", "");
    File("plain.txt", "PLAIN.TXT");            // its long name is its short one
    File("tab\there", "TABHER~1");

    EXPECT_EQ(RunTree({"save", "R", "out"}), kTreeSuccess);
    EXPECT_EQ(state.files["out"], kHeader +
                                      "JUNCTI~1\tJunction\n"
                                      "LONGFO~1\tLong folder\n"
                                      "INNERF~1.TXT\tLong folder/inner file.txt\n"
                                      "TABHER~1\ttab\\x09here\n");
    EXPECT_EQ(state.out, "save: 4 short names from 2 folders\n");
    EXPECT_TRUE(state.changes.empty());

    // The same tree to standard output: the listing alone.
    state.out.clear();
    EXPECT_EQ(RunTree({"save", "R", "-"}), kTreeSuccess);
    EXPECT_EQ(state.out, state.files["out"]);
}

TEST_F(Commands, MissingFoldersAndVolumesWithoutShortNames)
{
    File("here.txt", "HERE~1.TXT");
    state.files["l"] = kHeader + "HERE~1.TXT\there.txt\nGONE~1.TXT\tGone/x.txt\n";
    EXPECT_EQ(RunTree({"verify", "R", "l"}), kTreeDifferences);
    EXPECT_EQ(state.out, "missing\tGONE~1.TXT\tGone/x.txt\n"
                         "verify: 2 listed, 1 match, 0 differ, 1 missing, 0 failed\n");

    state.out.clear();
    state.volumeError = 50;
    for (const char* command : {"save", "restore", "verify"}) {
        state.err.clear();
        EXPECT_EQ(RunTree({command, "R", "l"}), kTreeCannotWork) << command;
        EXPECT_EQ(state.err, "velmora-tree: R: the file system there keeps no short names "
                             "(error 50: text 50.)\n")
            << command;
    }
    EXPECT_EQ(state.out, "");
    EXPECT_EQ(state.files["l"], kHeader + "HERE~1.TXT\there.txt\nGONE~1.TXT\tGone/x.txt\n");
}

}  // namespace
