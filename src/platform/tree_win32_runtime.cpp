// The C++ run-time pieces velmora-tree.exe takes from here rather than from
// libstdc++.
//
// The Windows program is built without exceptions: nothing in it throws or
// catches. What the library would throw (memory exhausted, a length beyond
// a container's maximum) ends the program with a message, as an uncaught
// exception would have, and so the library's exception machinery, its
// unwinder and its verbose terminate handler (with a C++ demangler) stay
// out of the executable: about 200 KiB, and code built for a newer
// processor than the program's floor.
//
// The functions below are the ones libstdc++'s headers call; each replaces
// the library's own definition. Should a new one be needed, the link fails
// with a duplicate definition instead of pulling the machinery back in.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fflush(stdout);
    std::fprintf(stderr, "velmora-tree: %s\n", what);
    std::abort();
}

void* Allocate(std::size_t size)
{
    // malloc(0) may answer a null pointer; new must not.
    return std::malloc(size != 0 ? size : 1);
}

}  // namespace

void* operator new(std::size_t size)
{
    void* memory = Allocate(size);
    if (memory == nullptr)
        Fail("out of memory");
    return memory;
}

void* operator new[](std::size_t size)
{
    return ::operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}

// libstdc++'s own entry points for the exceptions its headers raise: their
// names are the library's (reserved, in namespace std) because that is what
// the headers call.
// NOLINTBEGIN(cert-dcl58-cpp,bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
namespace std {

void __throw_bad_alloc()
{
    Fail("out of memory");
}

void __throw_bad_array_new_length()
{
    Fail("out of memory (array too long)");
}

void __throw_length_error(const char* what)
{
    Fail(what);
}

void __throw_logic_error(const char* what)
{
    Fail(what);
}

void __throw_out_of_range(const char* what)
{
    Fail(what);
}

// Variadic as the library declares it; the arguments are not read.
void __throw_out_of_range_fmt(const char* what, ...)  // NOLINT(cert-dcl50-cpp)
{
    Fail(what);
}

void __throw_invalid_argument(const char* what)
{
    Fail(what);
}

}  // namespace std
// NOLINTEND(cert-dcl58-cpp,bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
