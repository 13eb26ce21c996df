// What a mingw runtime would link into the ARM64 test host, which Debian has no build of: the
// console program's start, global constructors, operator new and delete over msvcrt.dll's heap and
// the standard library's failure reports (the programs are built without exceptions).
// crt_glue.c holds the C side.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>

extern "C" {
// msvcrt.dll's own argument parser and formatter.
struct StartupInfo {
    int newMode;
};
int __getmainargs(int* argc, char*** argv, char*** env, int expandWildcards, StartupInfo* info);

// lld lays the .ctors sections out after a -1 word at this symbol and ends them with a 0 word.
using Constructor = void (*)();
extern Constructor __CTOR_LIST__[];
}

int main(int argc, char** argv);

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fatal: %s\n", what);
    std::fflush(nullptr);
    std::abort();
}

void runConstructors() {
    // In reverse order of the list, as the mingw runtime does.
    Constructor* end = __CTOR_LIST__ + 1;
    while (*end != nullptr)
        ++end;
    for (Constructor* at = end - 1; at != __CTOR_LIST__; --at)
        (*at)();
}

void* allocate(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) fail("out of memory");
    return p;
}

} // namespace

extern "C" void mainCRTStartup() {
    int argc = 0;
    char** argv = nullptr;
    char** env = nullptr;
    StartupInfo info{0};
    __getmainargs(&argc, &argv, &env, 0, &info);
    runConstructors();
    std::exit(main(argc, argv));
}

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace std {
void __throw_bad_alloc() {
    fail("bad_alloc");
}
void __throw_bad_array_new_length() {
    fail("bad_array_new_length");
}
void __throw_length_error(const char* what) {
    fail(what);
}
void __throw_logic_error(const char* what) {
    fail(what);
}
void __throw_out_of_range(const char* what) {
    fail(what);
}
void __throw_out_of_range_fmt(const char* what, ...) {
    fail(what);
}
void __throw_invalid_argument(const char* what) {
    fail(what);
}
void __glibcxx_assert_fail(const char* file, int line, const char* function,
                           const char* condition) noexcept {
    std::fprintf(stderr, "%s:%d: %s: assertion '%s' failed\n", file, line, function, condition);
    fail("assertion");
}
} // namespace std
