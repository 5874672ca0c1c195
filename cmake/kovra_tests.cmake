# How every GoogleTest program of the project is built: one program per
# component, with GoogleTest's main linked once into each.

# kovra_test_program(NAME SOURCES source... [ENVIRONMENT VAR=value...]):
# a test program whose tests CTest runs one by one, each labelled with the
# program's name (ctest -L NAME runs one program's tests); with ENVIRONMENT
# they run with those variables set. More sources join with target_sources().
function(kovra_test_program name)
  cmake_parse_arguments(PARSE_ARGV 1 T "" "" "SOURCES;ENVIRONMENT")
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest_main)
  set(properties LABELS ${name})
  if(T_ENVIRONMENT)
    list(APPEND properties ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()
