# Native tools. The transform benchmark builds its own optimised copy of the effect and row cache,
# without the sanitizers of the unit-test library, with the unit tests' memory stand-in.
add_executable(vexel_bench_transform
    ${CMAKE_SOURCE_DIR}/tools/bench_transform.cpp
    ${CMAKE_SOURCE_DIR}/effect/dispersion.cpp
    ${CMAKE_SOURCE_DIR}/effect/transform_row.cpp
    ${CMAKE_SOURCE_DIR}/effect/row_blend.cpp
    ${CMAKE_SOURCE_DIR}/pipeline/row_cache.cpp
    ${CMAKE_SOURCE_DIR}/host/globals.cpp
    ${CMAKE_SOURCE_DIR}/host/run_buffer.cpp
    ${CMAKE_SOURCE_DIR}/tests/unit/memory_fake.cpp)
target_include_directories(vexel_bench_transform PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(vexel_bench_transform PRIVATE ${VEXEL_WARNINGS} -O2)
