// Text at the edge of velmora-tree's Windows layer, apart from the system
// calls so that it can be tested on its own: UTF-16 names to WTF-8 and back,
// and the wide command line split into arguments.
//
// A Windows name is a sequence of 16-bit units that need not be valid
// UTF-16. WTF-8 is UTF-8 that also carries an unpaired surrogate, as the
// three bytes UTF-8 would give its code point; a surrogate pair stays one
// four-byte character. Each sequence of units has exactly one WTF-8 form,
// so every name survives the trip out and back.
#ifndef VELMORA_TREE_WIN32_TEXT_H
#define VELMORA_TREE_WIN32_TEXT_H

#include <cstddef>
#include <string>
#include <vector>

namespace wintext {

// Any sequence of units has a WTF-8 form; nothing fails.
std::string Wtf8FromUtf16(const wchar_t* units, std::size_t count);
std::string Wtf8FromUtf16(const std::wstring& units);

// Strict: false (and *units unchanged) when the bytes are not WTF-8: a byte
// that starts no character, a character cut short, an overlong form, a code
// point above U+10FFFF, or a surrogate pair written as two three-byte
// surrogates (which would come back as one four-byte character, so two
// strings would answer to one name).
bool Utf16FromWtf8(const std::string& bytes, std::wstring* units);

// For display only: every byte that starts no valid character becomes
// U+FFFD and the rest goes through.
std::wstring Utf16ForDisplay(const char* bytes, std::size_t count);

// The \\?\ form of an absolute path as GetFullPathNameW gives it: C:\dir
// becomes \\?\C:\dir, \\server\share\dir becomes \\?\UNC\server\share\dir,
// \\.\ becomes \\?\, and a path already in that form is kept. A drive's or
// a share's root keeps (or gains) its closing backslash, without which it
// would name the volume or the server rather than the root folder.
std::wstring LongPathFromAbsolute(const std::wstring& absolute);

// The other way: the usual form of a \\?\ path (C:\dir, \\server\share\dir),
// or the path as it is when it has none (\\?\Volume{...}\dir).
std::wstring PlainPathFromLong(const std::wstring& longPath);

// Splits a command line as msvcrt.dll's start-up does for argv, so that a
// command line gives velmora-tree the same arguments it gives velmora:
// - argv[0], the program: from an opening quote to the next quote, taken
//   literally; otherwise up to the first space or tab.
// - other arguments are separated by spaces and tabs outside quotes;
// - 2n backslashes and a quote: n backslashes, and the quote opens or
//   closes a quoted part; 2n+1 backslashes and a quote: n backslashes and
//   a literal quote; backslashes not before a quote are literal;
// - inside a quoted part, two quotes give one literal quote and end the
//   quoted part (the rule of msvcrt.dll; later runtimes stay quoted);
// - a quoted part left open runs to the end of the line.
std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine);

}  // namespace wintext

#endif
