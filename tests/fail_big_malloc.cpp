// Preloaded into a program to make every large allocation fail, as on a
// machine out of memory; small ones (the C++ runtime's own) still work.
#include <cerrno>
#include <cstddef>

extern "C" void* __libc_malloc(std::size_t size);

extern "C" void* malloc(std::size_t size)
{
    if (size >= 16384) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_malloc(size);
}
