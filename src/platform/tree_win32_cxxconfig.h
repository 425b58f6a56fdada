// Read before anything else by every C++ file of velmora-tree's Windows
// build (-include).
//
// libstdc++ declares std::string and std::wstring as instantiated in the
// library, whose x86 build is compiled for the Pentium Pro. With the
// declarations off, each file instantiates the members it uses, compiled
// with the program's own flags (for the Pentium, for size), and the linker
// keeps only those called.
#ifndef VELMORA_TREE_WIN32_CXXCONFIG_H
#define VELMORA_TREE_WIN32_CXXCONFIG_H

#include <bits/c++config.h>

#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0

#endif
