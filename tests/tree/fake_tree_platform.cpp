#include "fake_tree_platform.h"

#include "names/shortnames.h"
#include "platform/tree_platform.h"

namespace faketree {

State state;

void Reset()
{
    state = State();
}

namespace {

std::string Parent(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string Name(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

}  // namespace faketree

namespace treeplat {

using faketree::state;

struct Folder {
    std::string relative;
};

Dword OpenFolder(const std::string& root, const std::string& relative, bool, Folder** folder)
{
    *folder = nullptr;
    if (root != state.root)
        return 3;
    if (!relative.empty()) {
        const auto found = state.items.find(relative);
        if (found == state.items.end())
            return 3;
        if (!found->second.folder)
            return 267;
    }
    *folder = new Folder{relative};
    return 0;
}

Dword ReadFolder(Folder* folder, std::vector<Entry>* entries)
{
    entries->clear();
    std::uint64_t id = 0;
    for (const auto& item : state.items) {
        ++id;
        if (faketree::Parent(item.first) == folder->relative)
            entries->push_back(Entry{faketree::Name(item.first), item.second.shortName,
                                     item.second.folder, id});
    }
    return 0;
}

// Refuses a name another entry of the folder answers to, as NTFS does, so
// that a plan that would clash fails here.
Dword SetShortName(Folder* folder, const Entry& entry, const std::string& shortName)
{
    const std::string path = folder->relative.empty() ? entry.name : folder->relative + "/" + entry.name;
    const std::string change = path + ">" + shortName;
    state.changes.push_back(change);
    const auto failure = state.failures.find(change);
    if (failure != state.failures.end())
        return failure->second;
    for (const auto& item : state.items) {
        if (item.first == path || faketree::Parent(item.first) != folder->relative)
            continue;
        if (shortnames::EqualIgnoringAsciiCase(faketree::Name(item.first).c_str(), shortName.c_str()) ||
            shortnames::EqualIgnoringAsciiCase(item.second.shortName.c_str(), shortName.c_str()))
            return 183;
    }
    state.items[path].shortName = shortName;
    return 0;
}

void CloseFolder(Folder* folder)
{
    delete folder;
}

Dword CheckVolume(const std::string& root)
{
    return root != state.root ? 3 : state.volumeError;
}

Dword EnableRestorePrivilege(const char** failedCall)
{
    if (state.privilegeError != 0)
        *failedCall = "AdjustTokenPrivileges";
    return state.privilegeError;
}

std::string SystemErrorText(Dword error)
{
    return "text " + std::to_string(error) + ".";
}

Dword ReadWholeFile(const std::string& path, std::string* content)
{
    const auto found = state.files.find(path);
    if (found == state.files.end())
        return 2;
    *content = found->second;
    return 0;
}

Dword WriteFileAtomically(const std::string& path, const std::string& content)
{
    if (path == "-")
        state.out += content;
    else
        state.files[path] = content;
    return 0;
}

void WriteText(std::FILE* stream, const std::string& text)
{
    (stream == stderr ? state.err : state.out) += text;
}

bool IsTerminal(std::FILE*)
{
    return false;
}

std::uint64_t MonotonicMilliseconds()
{
    return 0;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

}  // namespace treeplat
