#!/usr/bin/env bash
# Static analysis of src/ with the configurations kept in the repository.
#   lint.sh clang-tidy BUILD_DIR   (BUILD_DIR holds compile_commands.json)
#   lint.sh cppcheck
set -euo pipefail
cd "$(dirname "$0")/.."
case "$1" in
clang-tidy)
    # The Windows layers need the Windows headers: they are checked for a
    # mingw-w64 target with them.
    files=$(find src -name '*.cpp' ! -name '*win32*' | sort)
    clang-tidy --quiet -p "$2" $files
    gxx_include=$(ls -d /usr/lib/gcc/x86_64-w64-mingw32/*-win32/include/c++ | head -n 1)
    clang-tidy --quiet $(find src -name '*win32*.cpp' | sort) -- --target=x86_64-w64-mingw32 -std=c++17 -Isrc \
        -D_WIN32_WINNT=0x0502 -isystem "$gxx_include" -isystem "$gxx_include/x86_64-w64-mingw32" \
        -isystem /usr/x86_64-w64-mingw32/include
    ;;
cppcheck)
    # The Windows process entry is C (it calls main), checked as C.
    cppcheck --quiet --error-exitcode=1 --std=c++17 --language=c++ \
        --enable=warning,style,performance,portability --inline-suppr \
        --suppressions-list=.cppcheck-suppressions -I src -i src/startup src
    cppcheck --quiet --error-exitcode=1 --std=c99 --language=c \
        --enable=warning,style,performance,portability --inline-suppr \
        --suppressions-list=.cppcheck-suppressions src/startup
    ;;
*)
    echo "usage: $0 clang-tidy BUILD_DIR | cppcheck" >&2
    exit 2
    ;;
esac
