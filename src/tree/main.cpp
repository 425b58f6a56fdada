#include "platform/tree_platform.h"
#include "tree/tree.h"

int main(int argc, char** argv)
{
    plat::PrepareProcess();
    return TreeMain(treeplat::CommandLineArguments(argc, argv));
}
