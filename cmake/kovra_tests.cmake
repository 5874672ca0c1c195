# How every GoogleTest program of the project is built: one program per
# component, with GoogleTest's main linked once into each; the GoogleTest and
# standard headers precompiled once for all of them; the sources compiled in
# unity batches; and the test code itself at -O1 without debug information
# (what is under test is the product, built as configured; a failing
# assertion names its file and line without debug information; configure
# with KOVRA_TEST_DEBUG_INFO=ON to step through a test in a debugger).
option(KOVRA_TEST_DEBUG_INFO "Build the test programs with debug information" OFF)
option(KOVRA_TEST_UNITY "Compile each test program's sources in unity batches" ON)
option(KOVRA_TEST_PCH "Precompile the headers every test source includes" ON)

# The options every test source is compiled with; a precompiled header can
# only be shared between sources compiled alike.
function(kovra_test_compile_options target)
  target_link_libraries(${target} PRIVATE GTest::gtest)
  if(NOT KOVRA_TEST_DEBUG_INFO)
    target_compile_options(${target} PRIVATE -O1 -g0)
  endif()
  # g++ 12 at -O1 reports -Wmaybe-uninitialized inside libstdc++'s <regex>
  # (std::function in its automaton), which two test files use: a false
  # positive of that compiler in the library's own code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
  endif()
  # AddressSanitizer and UndefinedBehaviorSanitizer watch the product: its
  # libraries and programs are instrumented, and the runtime is linked into
  # every test program, so the product's faults are caught inside a test as
  # anywhere (LeakSanitizer sees every allocation, the tests' too). The test
  # code itself compiles in a third of the time uninstrumented. Not so under
  # ThreadSanitizer, which must see the tests' own synchronisation.
  if(KOVRA_SANITIZE)
    target_compile_options(${target} PRIVATE -fno-sanitize=all)
  endif()
endfunction()

# GoogleTest and the standard headers, precompiled once for every test
# program. The target holds one empty source; it is an executable because the
# test programs are, and a precompiled header is used only where it was built
# for the same kind of code (position-independent executable).
if(KOVRA_TEST_PCH)
  file(WRITE ${CMAKE_BINARY_DIR}/kovra_test_pch.cpp "int main() { return 0; }\n")
  add_executable(kovra_test_pch EXCLUDE_FROM_ALL ${CMAKE_BINARY_DIR}/kovra_test_pch.cpp)
  kovra_test_compile_options(kovra_test_pch)
  target_precompile_headers(kovra_test_pch PRIVATE
    <gtest/gtest.h>
    <chrono> <cstdint> <cstring> <filesystem> <fstream> <functional> <map>
    <memory> <optional> <sstream> <string> <string_view> <thread> <vector>)
endif()

# kovra_test_program(NAME SOURCES source... [ENVIRONMENT VAR=value...]):
# a test program whose tests CTest runs one by one, each labelled with the
# program's name (ctest -L NAME runs one program's tests); with ENVIRONMENT
# they run with those variables set. More sources join with target_sources().
# A source that cannot share a unity batch (names that clash with another
# file's) sets SKIP_UNITY_BUILD_INCLUSION.
function(kovra_test_program name)
  cmake_parse_arguments(PARSE_ARGV 1 T "" "" "SOURCES;ENVIRONMENT")
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest_main)
  kovra_test_compile_options(${name})
  if(KOVRA_TEST_PCH)
    target_precompile_headers(${name} REUSE_FROM kovra_test_pch)
  endif()
  if(KOVRA_TEST_UNITY)
    set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
  endif()
  set(properties LABELS ${name})
  if(T_ENVIRONMENT)
    list(APPEND properties ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()
