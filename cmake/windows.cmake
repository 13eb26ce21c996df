# The real module (Vexel.8bf for i686, Vexel64.8bf for x86-64), the test host and the Windows-side
# tools, cross-compiled.
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
if(CMAKE_SYSTEM_PROCESSOR STREQUAL aarch64)
    set(VEXEL_MODULE_NAME VexelArm64)
    # The 64-bit module's exports and resources; only the code property names the other machine.
    set(VEXEL_DEF_FILE ${CMAKE_SOURCE_DIR}/resources/vexelarm64.def)
    set(VEXEL_RC_DEFINES VEXEL_X64 VEXEL_ARM64)
    # 6.02 is the oldest version an ARM64 image may state.
    set(VEXEL_SUBSYSTEM windows:6.02)
elseif(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VEXEL_MODULE_NAME Vexel64)
    # No stdcall decorations on x86-64; the resource script picks the 64-bit code property.
    set(VEXEL_DEF_FILE ${CMAKE_SOURCE_DIR}/resources/vexel64.def)
    set(VEXEL_RC_DEFINES VEXEL_X64)
    # 5.02 is the first Windows version that ran x86-64 images.
    set(VEXEL_SUBSYSTEM windows:5.02)
else()
    set(VEXEL_MODULE_NAME Vexel)
    set(VEXEL_DEF_FILE ${CMAKE_SOURCE_DIR}/resources/vexel.def)
    set(VEXEL_RC_DEFINES)
    set(VEXEL_SUBSYSTEM windows:3.10)
endif()
set(VEXEL_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL aarch64)
    include(${CMAKE_SOURCE_DIR}/cmake/arm64.cmake) # no runtime library: our own pieces instead
endif()

# The module's code once, for the DLL and for the tools that link it directly.
add_library(vexel_module_objects OBJECT ${VEXEL_PORTABLE_SOURCES} ${VEXEL_WIN32_SOURCES})
target_include_directories(vexel_module_objects PUBLIC ${CMAKE_SOURCE_DIR})
# No C++ exception may reach the host: the module is built without them and allocates nothing
# that could throw (see docs/design.md).
target_compile_options(vexel_module_objects PRIVATE ${VEXEL_MODULE_WARNINGS} -fno-exceptions)
target_compile_definitions(vexel_module_objects PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX)

add_library(Vexel SHARED $<TARGET_OBJECTS:vexel_module_objects>
    resources/vexel.rc resources/version.rc ${VEXEL_DEF_FILE})
set_source_files_properties(resources/vexel.rc PROPERTIES COMPILE_DEFINITIONS "${VEXEL_RC_DEFINES}")
set_target_properties(Vexel PROPERTIES PREFIX "" SUFFIX ".8bf" OUTPUT_NAME ${VEXEL_MODULE_NAME})
target_link_options(Vexel PRIVATE ${VEXEL_STATIC_RUNTIME} -Wl,--subsystem,${VEXEL_SUBSYSTEM}
    $<$<CONFIG:Release,MinSizeRel>:-s>)
# advapi32 only for the registry value that remembers the settings per user.
target_link_libraries(Vexel PRIVATE user32 gdi32 kernel32 advapi32 ${VEXEL_MODULE_RUNTIME})
# No link time in the header: the same sources give the same module bytes (and release zip).
target_link_options(Vexel PRIVATE -Wl,--no-insert-timestamp)

# A console program of the test host or the tools: the module's warnings, a static runtime, the
# system libraries named after LIBS.
function(vexel_windows_program name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBS")
    add_executable(${name} ${arg_SOURCES})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_options(${name} PRIVATE ${VEXEL_WARNINGS})
    target_compile_definitions(${name} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
    target_link_options(${name} PRIVATE ${VEXEL_STATIC_RUNTIME})
    target_link_libraries(${name} PRIVATE ${arg_LIBS} ${VEXEL_PROGRAM_RUNTIME})
endfunction()

file(GLOB VEXEL_TESTHOST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/testhost/*.cpp)
if(VEXEL_TESTHOST_SOURCES)
    vexel_windows_program(vexel_testhost SOURCES ${VEXEL_TESTHOST_SOURCES}
        LIBS user32 gdi32 kernel32 advapi32)
    target_include_directories(vexel_testhost PRIVATE /usr/include/stb)
endif()

# Benchmarks are for the x86 builds, which run natively where they are measured.
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/windows.cmake AND NOT CMAKE_SYSTEM_PROCESSOR STREQUAL aarch64)
    include(${CMAKE_SOURCE_DIR}/tools/windows.cmake)
endif()
