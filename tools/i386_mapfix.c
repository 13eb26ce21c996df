// Preloaded into the project's Wine processes when 32-bit code runs under qemu's user-mode
// emulation. qemu-user 7.2 takes MAP_FIXED_NOREPLACE as a mere hint: where the asked range is
// taken it maps elsewhere instead of failing with EEXIST. Wine reserves its address space with
// that flag, keeps the misplaced mappings and retries the rest in ever smaller pieces, each a long
// search inside qemu, so a 32-bit process takes over a minute to start. Failing such a call as the
// kernel does brings that back to about a second. Natively the kernel already fails those calls,
// so the wrappers change nothing there (the x86-64 build exists so that one LD_PRELOAD value with
// $LIB serves both kinds of process).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stddef.h>
#include <sys/mman.h>
#include <sys/types.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

typedef void* (*MmapFn)(void*, size_t, int, int, int, off_t);
typedef void* (*Mmap64Fn)(void*, size_t, int, int, int, off64_t);

static void* refuseMisplaced(void* wanted, void* got, size_t length, int flags) {
    int noReplace = (flags & MAP_FIXED_NOREPLACE) != 0 && (flags & MAP_FIXED) == 0;
    if (!noReplace || got == MAP_FAILED || got == wanted) return got;
    munmap(got, length);
    errno = EEXIST;
    return MAP_FAILED;
}

void* mmap(void* address, size_t length, int prot, int flags, int fd, off_t offset) {
    static MmapFn real;
    if (real == NULL) real = (MmapFn)dlsym(RTLD_NEXT, "mmap");
    return refuseMisplaced(address, real(address, length, prot, flags, fd, offset), length, flags);
}

void* mmap64(void* address, size_t length, int prot, int flags, int fd, off64_t offset) {
    static Mmap64Fn real;
    if (real == NULL) real = (Mmap64Fn)dlsym(RTLD_NEXT, "mmap64");
    return refuseMisplaced(address, real(address, length, prot, flags, fd, offset), length, flags);
}
