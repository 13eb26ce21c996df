# Native build: the platform-free logic under AddressSanitizer and UndefinedBehaviorSanitizer with
# GoogleTest, plus the cross build of the real module (as an external project) and the tests that
# drive it under Wine. One ctest run covers both.
include(CTest)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON) # for the lint test
include(ExternalProject)

set(VEXEL_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

add_library(vexel_portable STATIC ${VEXEL_PORTABLE_SOURCES})
target_include_directories(vexel_portable PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(vexel_portable PUBLIC ${VEXEL_WARNINGS} ${VEXEL_SANITIZERS})
target_compile_options(vexel_portable PRIVATE ${VEXEL_MODULE_WARNINGS} -fno-exceptions)
target_link_options(vexel_portable PUBLIC ${VEXEL_SANITIZERS})

find_package(GTest REQUIRED)
file(GLOB VEXEL_UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(vexel_unit_tests ${VEXEL_UNIT_TESTS})
target_link_libraries(vexel_unit_tests PRIVATE vexel_portable GTest::gtest GTest::gtest_main)
include(GoogleTest)
gtest_discover_tests(vexel_unit_tests DISCOVERY_TIMEOUT 60)

# The Windows modules and test hosts, built with the mingw toolchains: build/win32 holds the 32-bit
# Vexel.8bf, build/win64 the 64-bit Vexel64.8bf, each with its own test host and tools; with clang
# and lld, build/arm64 holds the ARM64 VexelArm64.8bf and its test host.
set(VEXEL_WIN_BUILD ${CMAKE_BINARY_DIR}/win32)
set(VEXEL_WIN64_BUILD ${CMAKE_BINARY_DIR}/win64)
set(VEXEL_ARM64_BUILD ${CMAKE_BINARY_DIR}/arm64)
foreach(arch i686 x86_64 aarch64)
    set(toolchain ${CMAKE_SOURCE_DIR}/cmake/mingw-${arch}.cmake)
    if(arch STREQUAL i686)
        set(target vexel_win32)
        set(binary_dir ${VEXEL_WIN_BUILD})
    elseif(arch STREQUAL x86_64)
        set(target vexel_win64)
        set(binary_dir ${VEXEL_WIN64_BUILD})
    else()
        set(target vexel_arm64)
        set(binary_dir ${VEXEL_ARM64_BUILD})
        set(toolchain ${CMAKE_SOURCE_DIR}/cmake/clang-aarch64.cmake)
    endif()
    ExternalProject_Add(${target}
        SOURCE_DIR ${CMAKE_SOURCE_DIR}
        BINARY_DIR ${binary_dir}
        CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${toolchain}
                   -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
        INSTALL_COMMAND ""
        BUILD_ALWAYS ON)
endforeach()

# Tests that load the real DLL under Wine (Python, one ctest entry per file).
set(VEXEL_DISPLAY 97 CACHE STRING "X display number the Wine tests use")
# Debian's interpreter is the one with the packages the tests use (pytest, numpy, PIL, pefile);
# prefer it to any other python3 that comes earlier on PATH.
if(EXISTS /usr/bin/python3)
    set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "Python interpreter of the tests")
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(VEXEL_WINE_ENV
    VEXEL_PLUGIN32=${VEXEL_WIN_BUILD}/Vexel.8bf
    VEXEL_TESTHOST32=${VEXEL_WIN_BUILD}/vexel_testhost.exe
    VEXEL_PLUGIN64=${VEXEL_WIN64_BUILD}/Vexel64.8bf
    VEXEL_TESTHOST64=${VEXEL_WIN64_BUILD}/vexel_testhost.exe
    VEXEL_BUILD=${CMAKE_BINARY_DIR}
    VEXEL_SOURCE=${CMAKE_SOURCE_DIR}
    WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
    WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml=
    DISPLAY=:${VEXEL_DISPLAY}
    LC_ALL=zh_CN.UTF-8
    PYTHONDONTWRITEBYTECODE=1)
# Each build runs every Wine test with its own test host; a test about one build only skips on the
# other (harness.ARCH).
set(VEXEL_WINE_ENV_x86 ${VEXEL_WINE_ENV} VEXEL_ARCH=x86
    VEXEL_PLUGIN=${VEXEL_WIN_BUILD}/Vexel.8bf VEXEL_TESTHOST=${VEXEL_WIN_BUILD}/vexel_testhost.exe)
set(VEXEL_WINE_ENV_x64 ${VEXEL_WINE_ENV} VEXEL_ARCH=x64
    VEXEL_PLUGIN=${VEXEL_WIN64_BUILD}/Vexel64.8bf
    VEXEL_TESTHOST=${VEXEL_WIN64_BUILD}/vexel_testhost.exe)
file(GLOB VEXEL_WINE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/test_*.py)
# The prefix (64-bit, so it runs both builds, with the dialog's CJK font mapped) is made before the
# session starts using it.
add_test(NAME wine_prefix COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix
    ENVIRONMENT "${VEXEL_WINE_ENV}" TIMEOUT 300)
add_test(NAME wine_session_start
    COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/session.sh start)
add_test(NAME wine_session_stop
    COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/session.sh stop)
set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine FIXTURES_REQUIRED wine_prefix
    ENVIRONMENT "${VEXEL_WINE_ENV}")
set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${VEXEL_WINE_ENV}")
foreach(arch x86 x64)
    foreach(test_file ${VEXEL_WINE_TESTS})
        get_filename_component(test_name ${test_file} NAME_WE)
        add_test(NAME wine_${arch}_${test_name}
            COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider ${test_file})
        set_tests_properties(wine_${arch}_${test_name} PROPERTIES
            FIXTURES_REQUIRED wine ENVIRONMENT "${VEXEL_WINE_ENV_${arch}}" TIMEOUT 900
            SKIP_RETURN_CODE 77)
    endforeach()
endforeach()

# The ARM64 module under Wine's ARM64 build, through qemu (scripts/setup-arm64.sh unpacks it into
# build/arm64-wine): one test that runs each case there and with the x86-64 module and compares
# the bytes. Its prefix is its own, made once with a hard time limit.
set(VEXEL_ARM64_WINE ${CMAKE_BINARY_DIR}/arm64-wine)
if(DEFINED ENV{TMPDIR})
    set(VEXEL_TEMP_DIR $ENV{TMPDIR})
else()
    set(VEXEL_TEMP_DIR /tmp)
endif()
set(VEXEL_ARM64_ENV ${VEXEL_WINE_ENV_x64}
    VEXEL_ARM64_PLUGIN=${VEXEL_ARM64_BUILD}/VexelArm64.8bf
    VEXEL_ARM64_TESTHOST=${VEXEL_ARM64_BUILD}/vexel_testhost.exe
    VEXEL_ARM64_WINE=${VEXEL_ARM64_WINE}/bin/wine
    VEXEL_ARM64_PREFIX=${CMAKE_BINARY_DIR}/wineprefix-arm64)
add_test(NAME wine_arm64_prefix COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/wine-arm64-prefix.sh
    ${VEXEL_ARM64_WINE} ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} ${VEXEL_TEMP_DIR})
# Both report what cannot be had here (no ARM64 Wine, no binfmt_misc) as skipped, with the reason.
set_tests_properties(wine_arm64_prefix PROPERTIES FIXTURES_SETUP wine_arm64_prefix TIMEOUT 700
    SKIP_RETURN_CODE 77
    ENVIRONMENT "${VEXEL_WINE_ENV};WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix-arm64")
add_test(NAME wine_arm64_against_x64 COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider
    -rs ${CMAKE_SOURCE_DIR}/tests/arm64/test_wine_arm64.py)
set_tests_properties(wine_arm64_against_x64 PROPERTIES FIXTURES_REQUIRED "wine;wine_arm64_prefix"
    ENVIRONMENT "${VEXEL_ARM64_ENV}" TIMEOUT 1500 SKIP_REGULAR_EXPRESSION "[0-9]+ skipped")

# Tests that read the built module image natively (resources, exports, imports); no Wine needed.
file(GLOB VEXEL_PE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/pe/test_*.py)
foreach(test_file ${VEXEL_PE_TESTS})
    get_filename_component(test_name ${test_file} NAME_WE)
    add_test(NAME pe_${test_name}
        COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider ${test_file})
    set_tests_properties(pe_${test_name} PROPERTIES
        ENVIRONMENT "VEXEL_PLUGIN32=${VEXEL_WIN_BUILD}/Vexel.8bf;VEXEL_PLUGIN64=${VEXEL_WIN64_BUILD}/Vexel64.8bf;VEXEL_PLUGINARM64=${VEXEL_ARM64_BUILD}/VexelArm64.8bf;PYTHONDONTWRITEBYTECODE=1")
endforeach()

# The set-up's reading of how 32-bit code runs here (no Wine needed).
add_test(NAME scripts_i386_mode COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider
    ${CMAKE_SOURCE_DIR}/tests/scripts/test_i386_mode.py)
set_tests_properties(scripts_i386_mode PROPERTIES ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1")

# Style: formatting of every C++ source, and lint of the platform-free module sources.
add_test(NAME style_format COMMAND bash ${CMAKE_SOURCE_DIR}/tests/style/check-format.sh)
add_test(NAME style_lint COMMAND bash ${CMAKE_SOURCE_DIR}/tests/style/check-lint.sh ${CMAKE_BINARY_DIR})
set_tests_properties(style_lint PROPERTIES TIMEOUT 600)

# The release zip made from the built modules, unpacked and checked (no Wine needed).
add_test(NAME package_zip COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider
    ${CMAKE_SOURCE_DIR}/tests/package/test_package.py)
set_tests_properties(package_zip PROPERTIES ENVIRONMENT
    "VEXEL_BUILD=${CMAKE_BINARY_DIR};VEXEL_SOURCE=${CMAKE_SOURCE_DIR};PYTHONDONTWRITEBYTECODE=1")

# Native tools (benchmarks) and further test groups register themselves here when present.
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/native.cmake)
    include(${CMAKE_SOURCE_DIR}/tools/native.cmake)
endif()
