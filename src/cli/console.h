// The two streams the tool talks through: answers come from `in`, every
// message goes to `out`. A run gets them from main (stdin, stdout) or from
// a test.
#ifndef VELMORA_CONSOLE_H
#define VELMORA_CONSOLE_H

#include <cstdio>

struct Console {
    std::FILE* in;
    std::FILE* out;
};

#endif
