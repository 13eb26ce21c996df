# ARM64 without a C runtime or C++ library of its own (Debian ships none for this target): the
# import libraries come from our .def files, the module's entry is its DllMain, and the programs
# (the test host) start from a small start-up file of ours over the system's msvcrt.dll.
set(implib_dir ${CMAKE_BINARY_DIR}/implib)
file(MAKE_DIRECTORY ${implib_dir})
foreach(dll kernel32 user32 gdi32 advapi32 msvcrt)
    set(def ${CMAKE_SOURCE_DIR}/runtime/arm64/${dll}.def)
    execute_process(COMMAND ${VEXEL_DLLTOOL} -m arm64 -d ${def} -l ${implib_dir}/lib${dll}.a
        COMMAND_ERROR_IS_FATAL ANY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
endforeach()
link_directories(${implib_dir})

# windres compiles the resources (the same bytes as for the other builds) to a .res file, and
# cvtres turns that into an ARM64 object; a fixed time stamp keeps the module reproducible.
set(CMAKE_RC_COMPILE_OBJECT
    "<CMAKE_RC_COMPILER> -O res <DEFINES> <INCLUDES> <FLAGS> <SOURCE> <OBJECT>.res"
    "llvm-cvtres-14 /nologo /machine:arm64 /timestamp:0 /out:<OBJECT> <OBJECT>.res")
set(VEXEL_STATIC_RUNTIME)
set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")

enable_language(ASM)
add_library(vexel_arm64_chkstk STATIC ${CMAKE_SOURCE_DIR}/runtime/arm64/chkstk.S)
# msvcrt for the mathematics and the block copies the compiler calls.
set(VEXEL_MODULE_RUNTIME vexel_arm64_chkstk msvcrt -Wl,--entry,DllMain)

add_library(vexel_arm64_program_start STATIC ${CMAKE_SOURCE_DIR}/runtime/arm64/program_start.cpp
    ${CMAKE_SOURCE_DIR}/runtime/arm64/crt_glue.c)
# std::string's members are declared as instantiated in the C++ library, which this target lacks;
# the assertion mode of the headers lifts that declaration, so they are compiled where used.
target_compile_definitions(vexel_arm64_program_start PUBLIC _GLIBCXX_ASSERTIONS)
target_compile_options(vexel_arm64_program_start PRIVATE ${VEXEL_WARNINGS})
set(VEXEL_PROGRAM_RUNTIME vexel_arm64_program_start vexel_arm64_chkstk msvcrt kernel32)
