# The real module (Vexel.8bf), the test host and the Windows-side tools, cross-compiled.
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
set(VEXEL_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# The module's code once, for the DLL and for the tools that link it directly.
add_library(vexel_module_objects OBJECT ${VEXEL_PORTABLE_SOURCES} ${VEXEL_WIN32_SOURCES})
target_include_directories(vexel_module_objects PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(vexel_module_objects PRIVATE ${VEXEL_WARNINGS})
target_compile_definitions(vexel_module_objects PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX)

add_library(Vexel SHARED $<TARGET_OBJECTS:vexel_module_objects>
    resources/vexel.rc ${CMAKE_SOURCE_DIR}/resources/vexel.def)
set_target_properties(Vexel PROPERTIES PREFIX "" SUFFIX ".8bf" OUTPUT_NAME "Vexel")
target_link_options(Vexel PRIVATE ${VEXEL_STATIC_RUNTIME} -Wl,--subsystem,windows:3.10
    $<$<CONFIG:Release,MinSizeRel>:-s>)
target_link_libraries(Vexel PRIVATE user32 gdi32 kernel32)

file(GLOB VEXEL_TESTHOST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/testhost/*.cpp)
if(VEXEL_TESTHOST_SOURCES)
    add_executable(vexel_testhost ${VEXEL_TESTHOST_SOURCES})
    target_include_directories(vexel_testhost PRIVATE ${CMAKE_SOURCE_DIR} /usr/include/stb)
    target_compile_options(vexel_testhost PRIVATE ${VEXEL_WARNINGS})
    target_compile_definitions(vexel_testhost PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
    target_link_options(vexel_testhost PRIVATE ${VEXEL_STATIC_RUNTIME})
    target_link_libraries(vexel_testhost PRIVATE user32 gdi32 kernel32)
endif()

if(EXISTS ${CMAKE_SOURCE_DIR}/tools/windows.cmake)
    include(${CMAKE_SOURCE_DIR}/tools/windows.cmake)
endif()
