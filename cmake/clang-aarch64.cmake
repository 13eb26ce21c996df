# Cross build of the ARM64 Windows module and test host with Debian's clang and lld. Debian has no
# ARM64 mingw C runtime or C++ library: the mingw-w64 C headers serve as they are, the C++ standard
# headers are the x86-64 mingw g++ ones (same LLP64 ABI, and only their header-only parts are
# used), import libraries come from our own .def files and the entry points are our own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(triple aarch64-w64-mingw32)
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_ASM_COMPILER clang-14)
set(CMAKE_C_COMPILER_TARGET ${triple})
set(CMAKE_CXX_COMPILER_TARGET ${triple})
set(CMAKE_ASM_COMPILER_TARGET ${triple})
# windres is only the resource compiler here: it writes a .res file that lld converts for ARM64.
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(VEXEL_DLLTOOL llvm-dlltool-14)

file(GLOB gxx_headers LIST_DIRECTORIES true /usr/lib/gcc/x86_64-w64-mingw32/*-win32/include/c++)
list(GET gxx_headers 0 gxx_headers)
set(VEXEL_ARM64_INCLUDES ${gxx_headers} ${gxx_headers}/x86_64-w64-mingw32 /usr/share/mingw-w64/include)
string(JOIN " -isystem " includes ${VEXEL_ARM64_INCLUDES})
# The module uses only header-only parts of them (<array>, <span>, <algorithm>, <cmath>, ...),
# without exceptions; cmake/arm64.cmake says what the test host needs beyond that.
set(flags "-nostdinc++ -isystem ${includes} -fno-exceptions")
set(CMAKE_C_FLAGS_INIT "-isystem /usr/share/mingw-w64/include")
set(CMAKE_CXX_FLAGS_INIT "${flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -nostdlib -Wno-unused-command-line-argument")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -nostdlib -Wno-unused-command-line-argument")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
