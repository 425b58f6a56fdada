#ifndef VELMORA_SYNTAX_H
#define VELMORA_SYNTAX_H

#include <cstdio>

// Prints the syntax screen. `programName` is argv[0] as invoked; only its
// last component is shown.
void ShowSyntax(std::FILE* out, const char* programName);

#endif
