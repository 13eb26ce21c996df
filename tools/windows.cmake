# Windows-side tools, cross-compiled with the module and run under Wine.

# Preview drawing benchmark: links the module's code directly and draws on its own windows. Not
# part of the default build: `cmake --build <build>/win32 --target preview_bench`, then
# `wine preview_bench.exe [--repeat N]` on a display.
add_executable(preview_bench EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tools/preview_bench.cpp
    ${VEXEL_PORTABLE_SOURCES} ${VEXEL_WIN32_SOURCES})
target_include_directories(preview_bench PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(preview_bench PRIVATE ${VEXEL_WARNINGS})
target_compile_definitions(preview_bench PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_options(preview_bench PRIVATE ${VEXEL_STATIC_RUNTIME})
target_link_libraries(preview_bench PRIVATE user32 gdi32 kernel32)

# Final-pass benchmark: loads the real module and drives it through the host protocol. Not part
# of the default build: `cmake --build <build>/win32 --target bench_final_pass`, then
# `wine bench_final_pass.exe --plugin Vexel.8bf` on a display (tools/bench_final_pass.sh does both).
add_executable(bench_final_pass EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tools/bench_final_pass.cpp)
target_include_directories(bench_final_pass PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(bench_final_pass PRIVATE ${VEXEL_WARNINGS})
target_compile_definitions(bench_final_pass PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_options(bench_final_pass PRIVATE ${VEXEL_STATIC_RUNTIME})
target_link_libraries(bench_final_pass PRIVATE kernel32)
