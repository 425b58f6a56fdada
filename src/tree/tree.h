// velmora-tree: saves the short names of a folder tree and puts them back
// on a copy.
#ifndef VELMORA_TREE_TREE_H
#define VELMORA_TREE_TREE_H

#include <string>
#include <vector>

// Exit codes.
constexpr int kTreeSuccess = 0;
constexpr int kTreeDifferences = 1;   // restore left items unrestored; verify found differences
constexpr int kTreeUsage = 2;         // the command line is wrong
constexpr int kTreeBadListing = 3;    // the listing cannot be read or is malformed
constexpr int kTreeCannotWork = 4;    // the tree cannot be walked, or names cannot be set there

// Runs one command; args[0] is the program name. Returns the exit code.
int TreeMain(const std::vector<std::string>& args);

#endif
