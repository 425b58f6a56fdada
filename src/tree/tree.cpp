#include "tree/tree.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "names/shortnames.h"
#include "platform/tree_platform.h"
#include "tree/listing.h"
#include "tree/plan.h"

#ifndef VELMORA_VERSION_STRING
#define VELMORA_VERSION_STRING "unknown"
#endif

namespace {

using treeplat::Dword;

constexpr Dword kNotSupported = 50;
constexpr Dword kFileNotFound = 2;
constexpr Dword kPathNotFound = 3;

// The progress line appears only on a terminal, and only once a run has
// taken this long; it is redrawn at most this often.
constexpr std::uint64_t kProgressDelayMs = 1000;
constexpr std::uint64_t kProgressIntervalMs = 100;

const char kUsage[] =
    "velmora-tree " VELMORA_VERSION_STRING
    ": saves the short names of a folder tree and puts them back.\n"
    "\n"
    "Usage:\n"
    "  velmora-tree save    FOLDER LISTING\n"
    "  velmora-tree restore [--dry-run] FOLDER LISTING\n"
    "  velmora-tree verify  FOLDER LISTING\n"
    "  velmora-tree --help | --version\n"
    "\n"
    "  save      writes the short name of every item below FOLDER that has one\n"
    "  restore   gives every item listed its recorded short name\n"
    "  --dry-run prints the steps restore would take, and changes nothing\n"
    "  verify    tells whether every item listed holds its recorded short name\n"
    "\n"
    "LISTING \"-\" is standard output for save, standard input otherwise.\n"
    "Exit codes: 0 done; 1 items not restored, or differences found; 2 wrong\n"
    "command line; 3 the listing cannot be read or is malformed; 4 the tree\n"
    "cannot be read, or its volume keeps no short names, or names cannot be set.\n";

void Out(const std::string& text)
{
    treeplat::WriteText(stdout, text);
}

void Err(const std::string& text)
{
    std::fflush(stdout);
    treeplat::WriteText(stderr, "velmora-tree: " + text + "\n");
}

std::string Quote(const std::string& text)
{
    return listing::Escape(text, false);
}

std::string ErrorDescription(Dword error)
{
    std::string text = "error " + std::to_string(error);
    const std::string system = treeplat::SystemErrorText(error);
    if (!system.empty())
        text += ": " + system;
    return text;
}

std::string Join(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "/" + name;
}

// Every short name is compared as NTFS looks it up: ASCII letter case
// ignored. An entry without a short name answers to its long name alone.
bool Answers(const treeplat::Entry& entry, const std::string& shortName)
{
    const std::string& current = entry.shortName.empty() ? entry.name : entry.shortName;
    return shortnames::EqualIgnoringAsciiCase(current.c_str(), shortName.c_str());
}

class Progress {
public:
    Progress() : enabled_(treeplat::IsTerminal(stderr)), start_(treeplat::MonotonicMilliseconds()) {}

    std::size_t folders = 0;
    std::size_t items = 0;
    std::size_t changes = 0;

    void Tick()
    {
        if (!enabled_)
            return;
        const std::uint64_t now = treeplat::MonotonicMilliseconds();
        if (now - start_ < kProgressDelayMs || (shown_ != 0 && now - drawn_ < kProgressIntervalMs))
            return;
        drawn_ = now;
        std::string text = "\rvelmora-tree: " + std::to_string(folders) + " folders, " +
                           std::to_string(items) + " items, " + std::to_string(changes) +
                           " changes";
        const std::size_t length = text.size() - 1;
        if (length < shown_)
            text.append(shown_ - length, ' ');
        shown_ = length;
        treeplat::WriteText(stderr, text);
    }

    // Takes the line away before anything else is written.
    void Clear()
    {
        if (shown_ == 0)
            return;
        treeplat::WriteText(stderr, "\r" + std::string(shown_, ' ') + "\r");
        shown_ = 0;
    }

private:
    bool enabled_;
    std::uint64_t start_;
    std::uint64_t drawn_ = 0;
    std::size_t shown_ = 0;
};

// A report line: its word, the name, the path, and what else there is to
// say; fields apart by tabs, names and paths written as in a listing.
void Report(Progress* progress, const char* word, const std::string& shortName,
            const std::string& path, const std::string& detail)
{
    progress->Clear();
    std::string line = word;
    line += "\t" + Quote(shortName) + "\t" + listing::Escape(path, detail.empty());
    if (!detail.empty())
        line += "\t" + detail;
    Out(line + "\n");
}

bool ByName(const treeplat::Entry& a, const treeplat::Entry& b)
{
    return a.name < b.name;
}

struct OpenedFolder {
    treeplat::Folder* folder = nullptr;
    ~OpenedFolder()
    {
        if (folder != nullptr)
            treeplat::CloseFolder(folder);
    }
};

// Reads one folder's entries, sorted by name so that every run sees them in
// the same order.
Dword ReadSorted(const std::string& root, const std::string& relative, bool forChange,
                 OpenedFolder* opened, std::vector<treeplat::Entry>* entries)
{
    Dword error = treeplat::OpenFolder(root, relative, forChange, &opened->folder);
    if (error != 0) {
        opened->folder = nullptr;
        return error;
    }
    error = treeplat::ReadFolder(opened->folder, entries);
    if (error != 0)
        return error;
    std::sort(entries->begin(), entries->end(), ByName);
    return 0;
}

int CheckRoot(const std::string& root)
{
    const Dword error = treeplat::CheckVolume(root);
    if (error == kNotSupported) {
        Err(Quote(root) + ": the file system there keeps no short names (" +
            ErrorDescription(error) + ")");
        return kTreeCannotWork;
    }
    if (error != 0) {
        Err(Quote(root) + ": " + ErrorDescription(error));
        return kTreeCannotWork;
    }
    return kTreeSuccess;
}

std::string ListingName(const std::string& path)
{
    return path == "-" ? std::string("standard input") : Quote(path);
}

int ReadListing(const std::string& path, std::vector<listing::Item>* items)
{
    std::string text;
    const Dword error = treeplat::ReadWholeFile(path, &text);
    if (error != 0) {
        Err(ListingName(path) + ": cannot be read (" + ErrorDescription(error) + ")");
        return kTreeBadListing;
    }
    listing::ParseError problem;
    if (!listing::Parse(text, items, &problem)) {
        Err(ListingName(path) + ":" + std::to_string(problem.line) + ": " + problem.problem +
            "; nothing was changed");
        return kTreeBadListing;
    }
    return kTreeSuccess;
}

// The whole listing is read and checked before the tree is looked at.
int ReadListingAndCheckRoot(const std::string& listingPath, const std::string& root,
                            std::vector<listing::Item>* items)
{
    const int status = ReadListing(listingPath, items);
    return status != kTreeSuccess ? status : CheckRoot(root);
}

// The listed items of one folder (indexes into the listing, in listing
// order); groups come in the byte order of their folders' paths.
struct Group {
    std::string folder;
    std::vector<std::size_t> items;
};

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::vector<Group> GroupByFolder(const std::vector<listing::Item>& items)
{
    std::vector<std::pair<std::string, std::size_t>> byFolder;
    byFolder.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
        byFolder.emplace_back(FolderOf(items[i].path), i);
    std::sort(byFolder.begin(), byFolder.end());
    std::vector<Group> groups;
    for (const auto& item : byFolder) {
        if (groups.empty() || groups.back().folder != item.first)
            groups.push_back(Group{item.first, {}});
        groups.back().items.push_back(item.second);
    }
    return groups;
}

// The entry named `name` among entries sorted by name, or entries.size().
std::size_t FindEntry(const std::vector<treeplat::Entry>& entries, const std::string& name)
{
    const auto found = std::lower_bound(
        entries.begin(), entries.end(), name,
        [](const treeplat::Entry& entry, const std::string& key) { return entry.name < key; });
    if (found == entries.end() || found->name != name)
        return entries.size();
    return static_cast<std::size_t>(found - entries.begin());
}

std::string LastName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// --- save ------------------------------------------------------------------

int Save(const std::string& root, const std::string& listingPath)
{
    int status = CheckRoot(root);
    if (status != kTreeSuccess)
        return status;

    Progress progress;
    std::vector<listing::Item> items;
    // Depth first, one frame per open level, each folder's entries in name
    // order: the same tree always gives the same listing.
    struct Frame {
        std::string relative;
        std::vector<treeplat::Entry> entries;
        std::size_t next;
    };
    std::vector<Frame> stack;
    stack.push_back(Frame{std::string(), {}, 0});
    std::size_t folders = 0;
    for (bool fresh = true; !stack.empty();) {
        Frame& frame = stack.back();
        if (fresh) {
            OpenedFolder opened;
            const Dword error = ReadSorted(root, frame.relative, false, &opened, &frame.entries);
            if (error != 0) {
                progress.Clear();
                Err(Quote(frame.relative.empty() ? root : Join(root, frame.relative)) +
                    ": cannot be read (" + ErrorDescription(error) + "); no listing was written");
                return kTreeCannotWork;
            }
            ++folders;
            progress.folders = folders;
            fresh = false;
        }
        if (frame.next == frame.entries.size()) {
            stack.pop_back();
            continue;
        }
        const treeplat::Entry entry = frame.entries[frame.next++];
        const std::string path = Join(frame.relative, entry.name);
        // A name that is its own short name (ASCII case aside) has no
        // separate one: Windows shows none, and there is nothing to restore.
        if (!entry.shortName.empty() &&
            !shortnames::EqualIgnoringAsciiCase(entry.shortName.c_str(), entry.name.c_str()))
            items.push_back(listing::Item{path, entry.shortName, 0});
        ++progress.items;
        progress.Tick();
        if (entry.descend) {
            stack.push_back(Frame{path, {}, 0});
            fresh = true;
        }
    }
    progress.Clear();

    const Dword error = treeplat::WriteFileAtomically(listingPath, listing::Format(items));
    if (error != 0) {
        Err(Quote(listingPath) + ": cannot be written (" + ErrorDescription(error) + ")");
        return kTreeCannotWork;
    }
    if (listingPath != "-")
        Out("save: " + std::to_string(items.size()) + " short names from " +
            std::to_string(folders) + " folders\n");
    return kTreeSuccess;
}

// --- verify ----------------------------------------------------------------

int Verify(const std::string& root, const std::string& listingPath)
{
    std::vector<listing::Item> items;
    const int status = ReadListingAndCheckRoot(listingPath, root, &items);
    if (status != kTreeSuccess)
        return status;

    Progress progress;
    std::size_t match = 0, differ = 0, missing = 0, failed = 0;
    for (const auto& group : GroupByFolder(items)) {
        OpenedFolder opened;
        std::vector<treeplat::Entry> entries;
        const Dword error = ReadSorted(root, group.folder, false, &opened, &entries);
        ++progress.folders;
        for (std::size_t i : group.items) {
            const listing::Item& item = items[i];
            ++progress.items;
            if (error == kFileNotFound || error == kPathNotFound) {
                ++missing;
                Report(&progress, "missing", item.shortName, item.path, "");
                continue;
            }
            if (error != 0) {
                ++failed;
                Report(&progress, "failed", item.shortName, item.path, ErrorDescription(error));
                continue;
            }
            const std::size_t found = FindEntry(entries, LastName(item.path));
            if (found == entries.size()) {
                ++missing;
                Report(&progress, "missing", item.shortName, item.path, "");
                continue;
            }
            const treeplat::Entry& entry = entries[found];
            if (shortnames::IsValidShortName(item.shortName.c_str()) && Answers(entry, item.shortName)) {
                ++match;
                continue;
            }
            ++differ;
            Report(&progress, "differs", item.shortName, item.path,
                   entry.shortName.empty() ? "holds none" : "holds " + Quote(entry.shortName));
        }
        progress.Tick();
    }
    progress.Clear();
    Out("verify: " + std::to_string(items.size()) + " listed, " + std::to_string(match) +
        " match, " + std::to_string(differ) + " differ, " + std::to_string(missing) +
        " missing, " + std::to_string(failed) + " failed\n");
    return match == items.size() ? kTreeSuccess : kTreeDifferences;
}

// --- restore ---------------------------------------------------------------

struct Tally {
    std::size_t changed = 0, right = 0, conflict = 0, missing = 0, invalid = 0, failed = 0;
    std::size_t steps = 0, temporary = 0;
};

std::string ConflictDetail(const plan::Decision& decision, const std::string& folder,
                           const std::vector<treeplat::Entry>& entries)
{
    const std::string holder = listing::Escape(Join(folder, entries[decision.holder].name), false);
    switch (decision.reason) {
    case plan::Reason::longName:
        return "the long name of " + holder;
    case plan::Reason::keptShortName:
        return "the short name of " + holder + ", which keeps it";
    case plan::Reason::recordedTwice:
        return "recorded for " + holder + " as well";
    case plan::Reason::none:
        break;
    }
    return "taken";
}

// Carries out one folder's steps. A step that fails undoes the steps of its
// chain already taken, newest first, so that no entry keeps a temporary
// name; the chain's other steps are not taken.
void Execute(const plan::Plan& folderPlan, treeplat::Folder* folder,
             const std::vector<treeplat::Entry>& entries, Progress* progress,
             std::vector<std::string>* failures)
{
    std::size_t chainStart = 0;
    bool chainFailed = false;
    for (std::size_t s = 0; s < folderPlan.steps.size(); ++s) {
        const plan::Step& step = folderPlan.steps[s];
        if (s > 0 && step.chain != folderPlan.steps[s - 1].chain) {
            chainStart = s;
            chainFailed = false;
        }
        if (chainFailed)
            continue;
        const Dword error = treeplat::SetShortName(folder, entries[step.entry], step.to);
        if (error == 0) {
            ++progress->changes;
            progress->Tick();
            continue;
        }
        chainFailed = true;
        // The failure itself is what its entry reports; the entries undone
        // or left out report why.
        (*failures)[step.entry] = ErrorDescription(error);
        const std::string cause = "not changed: the change of " +
                                  listing::Escape(entries[step.entry].name, false) +
                                  " in the same chain failed";
        // Once an undo fails, the steps before it stay: the name each would
        // take back may be the one the failed undo could not free.
        bool undoing = true;
        for (std::size_t t = s; t-- > chainStart;) {
            const plan::Step& done = folderPlan.steps[t];
            std::string undo = cause;
            if (!undoing || done.from.empty()) {
                undo = "holds " + Quote(done.to) + ": not undone, as " +
                       (undoing ? std::string("it had no short name before")
                                : std::string("an undo after it failed"));
            } else {
                const Dword undoError = treeplat::SetShortName(folder, entries[done.entry], done.from);
                if (undoError != 0) {
                    undo = "holds " + Quote(done.to) + ": undoing it failed, " +
                           ErrorDescription(undoError);
                    undoing = false;
                }
            }
            if ((*failures)[done.entry].empty())
                (*failures)[done.entry] = undo;
        }
        for (std::size_t t = s + 1; t < folderPlan.steps.size() && folderPlan.steps[t].chain == step.chain; ++t)
            if ((*failures)[folderPlan.steps[t].entry].empty())
                (*failures)[folderPlan.steps[t].entry] = cause;
    }
}

int Restore(const std::string& root, const std::string& listingPath, bool dryRun)
{
    std::vector<listing::Item> items;
    const int status = ReadListingAndCheckRoot(listingPath, root, &items);
    if (status != kTreeSuccess)
        return status;

    bool privilegeEnabled = dryRun;
    Progress progress;
    Tally tally;
    for (const auto& group : GroupByFolder(items)) {
        const std::string& folderPath = group.folder;
        ++progress.folders;
        OpenedFolder opened;
        std::vector<treeplat::Entry> entries;
        const Dword error = ReadSorted(root, folderPath, !dryRun, &opened, &entries);
        if (error != 0) {
            const bool gone = error == kFileNotFound || error == kPathNotFound;
            for (std::size_t i : group.items) {
                ++progress.items;
                if (gone) {
                    ++tally.missing;
                    Report(&progress, "missing", items[i].shortName, items[i].path, "");
                } else {
                    ++tally.failed;
                    Report(&progress, "failed", items[i].shortName, items[i].path,
                           ErrorDescription(error));
                }
            }
            continue;
        }

        std::vector<plan::Current> current;
        current.reserve(entries.size());
        for (const treeplat::Entry& entry : entries)
            current.push_back(plan::Current{entry.name, entry.shortName});
        std::vector<plan::Wanted> wanted;
        std::vector<std::size_t> wantedItem;
        for (std::size_t i : group.items) {
            const std::size_t found = FindEntry(entries, LastName(items[i].path));
            if (found == entries.size())
                continue;
            wanted.push_back(plan::Wanted{found, items[i].shortName});
            wantedItem.push_back(i);
        }
        const plan::Plan folderPlan = plan::MakePlan(current, wanted);

        std::vector<std::string> failures(entries.size());   // entry -> why it failed
        if (dryRun) {
            for (const plan::Step& step : folderPlan.steps) {
                ++tally.steps;
                if (step.temporary)
                    ++tally.temporary;
                Report(&progress, "step", step.to, Join(folderPath, entries[step.entry].name),
                       std::string("from ") + (step.from.empty() ? "none" : Quote(step.from)) +
                           (step.temporary ? ", temporary" : ""));
            }
        } else if (!folderPlan.steps.empty()) {
            if (!privilegeEnabled) {
                const char* failedCall = "";
                const Dword privilegeError = treeplat::EnableRestorePrivilege(&failedCall);
                if (privilegeError != 0) {
                    progress.Clear();
                    Err(std::string("cannot enable the restore privilege: ") + failedCall +
                        " failed, " + ErrorDescription(privilegeError));
                    return kTreeCannotWork;
                }
                privilegeEnabled = true;
            }
            Execute(folderPlan, opened.folder, entries, &progress, &failures);
        }

        std::size_t w = 0;
        for (std::size_t i : group.items) {
            const listing::Item& item = items[i];
            ++progress.items;
            if (w == wanted.size() || wantedItem[w] != i) {
                ++tally.missing;
                Report(&progress, "missing", item.shortName, item.path, "");
                continue;
            }
            const plan::Decision& decision = folderPlan.decisions[w];
            const std::size_t entry = wanted[w].entry;
            ++w;
            switch (decision.verdict) {
            case plan::Verdict::done:
                ++tally.right;
                break;
            case plan::Verdict::invalid:
                ++tally.invalid;
                Report(&progress, "invalid", item.shortName, item.path, "not a valid 8.3 name");
                break;
            case plan::Verdict::conflict:
                ++tally.conflict;
                Report(&progress, "conflict", item.shortName, item.path,
                       ConflictDetail(decision, folderPath, entries));
                break;
            case plan::Verdict::change: {
                if (!failures[entry].empty()) {
                    ++tally.failed;
                    Report(&progress, "failed", item.shortName, item.path, failures[entry]);
                } else if (!dryRun) {
                    ++tally.changed;
                    Report(&progress, "changed", item.shortName, item.path,
                           "was " + (entries[entry].shortName.empty() ? std::string("none")
                                                                      : Quote(entries[entry].shortName)));
                } else {
                    ++tally.changed;
                }
                break;
            }
            }
        }
        progress.Tick();
    }
    progress.Clear();

    const std::string counts =
        std::to_string(tally.right) + " already right, " + std::to_string(tally.conflict) +
        " in conflict, " + std::to_string(tally.missing) + " missing, " +
        std::to_string(tally.invalid) + " invalid, " + std::to_string(tally.failed) + " failed\n";
    if (dryRun)
        Out("restore --dry-run: " + std::to_string(items.size()) + " listed, " +
            std::to_string(tally.changed) + " to change in " + std::to_string(tally.steps) +
            " steps (" + std::to_string(tally.temporary) + " temporary), " + counts);
    else
        Out("restore: " + std::to_string(items.size()) + " listed, " +
            std::to_string(tally.changed) + " changed, " + counts);
    if (dryRun)
        return tally.right == items.size() ? kTreeSuccess : kTreeDifferences;
    return tally.changed + tally.right == items.size() ? kTreeSuccess : kTreeDifferences;
}

int Usage(const std::string& problem)
{
    Err(problem);
    treeplat::WriteText(stderr, "Run \"velmora-tree --help\" for the usage.\n");
    return kTreeUsage;
}

}  // namespace

int TreeMain(const std::vector<std::string>& args)
{
    std::vector<std::string> operands;
    bool dryRun = false;
    bool optionsEnd = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnd && arg == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && (arg == "--help" || arg == "-h" || arg == "/?" || arg == "-?")) {
            Out(kUsage);
            return kTreeSuccess;
        } else if (!optionsEnd && arg == "--version") {
            Out("velmora-tree " VELMORA_VERSION_STRING "\n");
            return kTreeSuccess;
        } else if (!optionsEnd && arg == "--dry-run") {
            dryRun = true;
        } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option " + Quote(arg));
        } else {
            operands.push_back(arg);
        }
    }
    if (operands.empty())
        return Usage("no command given");
    const std::string& command = operands[0];
    if (command != "save" && command != "restore" && command != "verify")
        return Usage("unknown command " + Quote(command));
    if (operands.size() != 3)
        return Usage(command + " takes a FOLDER and a LISTING");
    if (dryRun && command != "restore")
        return Usage("--dry-run belongs to restore");
    if (operands[1].empty() || operands[2].empty())
        return Usage("FOLDER and LISTING must not be empty");

    if (command == "save")
        return Save(operands[1], operands[2]);
    if (command == "verify")
        return Verify(operands[1], operands[2]);
    return Restore(operands[1], operands[2], dryRun);
}
