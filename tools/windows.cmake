# Windows-side tools, cross-compiled with the module and run under Wine.

# Both benchmarks are built with everything (so they keep compiling) and run by hand on a display.

# Preview drawing benchmark: links the module's code directly and draws on its own windows:
# `wine <build>/win32/preview_bench.exe [--repeat N]`.
add_executable(preview_bench ${CMAKE_SOURCE_DIR}/tools/preview_bench.cpp
    $<TARGET_OBJECTS:vexel_module_objects>)
target_include_directories(preview_bench PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(preview_bench PRIVATE ${VEXEL_WARNINGS})
target_compile_definitions(preview_bench PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_options(preview_bench PRIVATE ${VEXEL_STATIC_RUNTIME})
target_link_libraries(preview_bench PRIVATE user32 gdi32 kernel32)

# Final-pass benchmark: loads the real module and drives it through the host protocol:
# `wine <build>/win32/bench_final_pass.exe --plugin Vexel.8bf` (tools/bench_final_pass.sh runs it).
add_executable(bench_final_pass ${CMAKE_SOURCE_DIR}/tools/bench_final_pass.cpp)
target_include_directories(bench_final_pass PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(bench_final_pass PRIVATE ${VEXEL_WARNINGS})
target_compile_definitions(bench_final_pass PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_options(bench_final_pass PRIVATE ${VEXEL_STATIC_RUNTIME})
target_link_libraries(bench_final_pass PRIVATE kernel32)
