# Windows-side tools, cross-compiled with the module and run under Wine.

# Both benchmarks are built with everything (so they keep compiling) and run by hand on a display.

# Preview drawing benchmark: links the module's code directly and draws on its own windows:
# `wine <build>/win32/preview_bench.exe [--repeat N]`.
vexel_windows_program(preview_bench
    SOURCES ${CMAKE_SOURCE_DIR}/tools/preview_bench.cpp $<TARGET_OBJECTS:vexel_module_objects>
    LIBS user32 gdi32 kernel32)

# Final-pass benchmark: loads the real module and drives it through the host protocol:
# `wine <build>/win32/bench_final_pass.exe --plugin Vexel.8bf` (tools/bench_final_pass.sh runs it).
vexel_windows_program(bench_final_pass SOURCES ${CMAKE_SOURCE_DIR}/tools/bench_final_pass.cpp
    LIBS kernel32)
