// What velmora-tree needs of the operating system, beyond velmora's own
// layer: a folder read once with every entry's short name, a short name set
// by the entry's name, and text in and out as UTF-8.
//
// Every string here is UTF-8. On Windows, where a name is a sequence of
// UTF-16 units that need not be valid UTF-16, an unpaired surrogate is
// encoded as the three bytes UTF-8 would give it (WTF-8), so every name the
// volume holds survives the trip. One implementation is linked into the
// program: tree_win32.cpp (wide-character calls, \\?\ paths) or
// tree_posix.cpp (ntfs-3g).
//
// Failures are Win32 error numbers, as in velmora: 0 is success.
#ifndef VELMORA_TREE_PLATFORM_H
#define VELMORA_TREE_PLATFORM_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace treeplat {

using plat::Dword;

// One entry of a folder, as the folder lists it.
struct Entry {
    std::string name;        // long name
    std::string shortName;   // its short name; empty when it has none
    bool descend;            // a folder to walk into: not a link, junction or
                             // other reparse point, and on the same volume
    std::uint64_t id;        // identifies the entry to SetShortName (the
                             // inode on Linux; unused on Windows)
};

// A folder open for reading, or for changing its entries' short names. One
// is open at a time.
struct Folder;

// Opens the folder `relative` below `root`. `root` is the FOLDER the user
// named; `relative` is empty (the root itself) or names joined by '/'.
// With forChange, the folder is locked against other velmora and
// velmora-tree runs until it is closed (Linux; on Windows the file system
// itself keeps names unique).
Dword OpenFolder(const std::string& root, const std::string& relative, bool forChange,
                 Folder** folder);

// Reads every entry of the folder once, with its short name; "." and ".."
// are left out. Order is the file system's.
Dword ReadFolder(Folder* folder, std::vector<Entry>* entries);

// Gives the entry (as ReadFolder returned it) the short name `shortName`,
// a valid 8.3 name in upper case. The entry is opened exclusively and
// without following a link; on Linux it must still be the entry listed.
Dword SetShortName(Folder* folder, const Entry& entry, const std::string& shortName);

void CloseFolder(Folder* folder);

// 0 when `root` is a folder on a volume that keeps short names; 50 when
// its file system keeps none; otherwise the error of reaching it.
Dword CheckVolume(const std::string& root);

// Enables the restore privilege in the process token (Windows); on failure
// returns the error number and names the call that failed in *failedCall.
Dword EnableRestorePrivilege(const char** failedCall);

// The system's text for an error number, without its line end; empty when
// the system has none.
std::string SystemErrorText(Dword error);

// The whole content of the file `path` ("-" is standard input).
Dword ReadWholeFile(const std::string& path, std::string* content);

// Writes `content` to a new file beside `path` and renames it into place,
// so that `path` never holds half of it ("-" is standard output).
Dword WriteFileAtomically(const std::string& path, const std::string& content);

// Writes UTF-8 text to standard output or standard error: as characters on
// a Windows console, as bytes otherwise.
void WriteText(std::FILE* stream, const std::string& text);

// True when the stream is a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

// Milliseconds from an arbitrary start, never going back.
std::uint64_t MonotonicMilliseconds();

// The command line as UTF-8 (on Windows taken from the wide command line,
// so that names outside the ANSI code page arrive whole).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace treeplat

#endif
