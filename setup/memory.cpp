// Allocation for the installer's C++ objects. The library's operator new
// reports failure by throwing, which would link the whole exception
// machinery into a program that is downloaded before anything else; the
// installer allocates only with new (std::nothrow) and checks for null.
#include <stdlib.h>

#include <new>

// The tag that `new (std::nothrow)` names. The library defines it beside its
// new-handler, whose unwind table would come along with it.
namespace std {
const nothrow_t nothrow{};
}

void *operator new(size_t size, const std::nothrow_t &) noexcept {
    return malloc(size != 0 ? size : 1);
}

void *operator new[](size_t size, const std::nothrow_t &) noexcept {
    return malloc(size != 0 ? size : 1);
}

void operator delete(void *block) noexcept {
    free(block);
}

void operator delete(void *block, size_t) noexcept {
    free(block);
}

void operator delete[](void *block) noexcept {
    free(block);
}

void operator delete[](void *block, size_t) noexcept {
    free(block);
}

// Called only through a broken object; ends the program without the
// library's verbose terminate handler.
extern "C" void __cxa_pure_virtual(void) {
    abort();
}
