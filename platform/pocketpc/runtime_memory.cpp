// The ARM EABI names under which clang copies and clears memory (structure copies,
// zeroed locals), passed on to coredll's memcpy and memset. The 4 and 8 forms only
// promise alignment, which the plain calls do not need. Note the order of
// __aeabi_memset's arguments: destination, size, value.
//
// Built with -fno-builtin: otherwise clang would see memcpy here and could turn it
// back into a call to __aeabi_memcpy, that is, into itself.
#include <cstddef>
#include <cstring>

extern "C" {

void __aeabi_memcpy(void* dest, const void* src, size_t n) { memcpy(dest, src, n); }
void __aeabi_memcpy4(void* dest, const void* src, size_t n) { memcpy(dest, src, n); }
void __aeabi_memcpy8(void* dest, const void* src, size_t n) { memcpy(dest, src, n); }

void __aeabi_memset(void* dest, size_t n, int c) { memset(dest, c, n); }
void __aeabi_memset4(void* dest, size_t n, int c) { memset(dest, c, n); }
void __aeabi_memset8(void* dest, size_t n, int c) { memset(dest, c, n); }

void __aeabi_memclr(void* dest, size_t n) { memset(dest, 0, n); }
void __aeabi_memclr4(void* dest, size_t n) { memset(dest, 0, n); }
void __aeabi_memclr8(void* dest, size_t n) { memset(dest, 0, n); }

}  // extern "C"
