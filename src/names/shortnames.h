// The rules of an 8.3 short name, as NTFS on Windows applies them: shared by
// the Linux layer (which enforces them where ntfs-3g does not) and by
// velmora-tree (which plans with them on both systems).
#ifndef VELMORA_SHORTNAMES_H
#define VELMORA_SHORTNAMES_H

#include <string>

namespace shortnames {

// True when `name` is a valid 8.3 short name: only characters below 0x80,
// no control character, blank or any of " * + , / : ; < = > ? [ \ ] |,
// at most one period, a base of 1 to 8 characters and, after a period, an
// extension of 1 to 3.
bool IsValidShortName(const char* name);

// Compares two strings folding only the ASCII letters A to Z.
bool EqualIgnoringAsciiCase(const char* a, const char* b);

// The name with a to z turned into A to Z, and nothing else changed: the
// form under which NTFS finds a name.
std::string UpperAscii(const std::string& name);

}  // namespace shortnames

#endif
