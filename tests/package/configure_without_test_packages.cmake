# Configures a fresh tree with GoogleTest and Google Benchmark hidden, with the
# defaults a newcomer gets, and fails when the configure step does or when it
# would build a test target.
file(REMOVE_RECURSE ${BINARY})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BINARY} -G ${GENERATOR}
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "configure without test packages failed:\n${output}")
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} --build ${BINARY} --target help
  OUTPUT_VARIABLE targets
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot list the targets of ${BINARY}")
endif()
foreach(wanted kovrasc kvrdevserver kvrdbri kvrdbro kvrdbexec)
  if(NOT targets MATCHES "${wanted}:")
    message(FATAL_ERROR "the default build lacks ${wanted}")
  endif()
endforeach()
if(targets MATCHES "_tests:" OR targets MATCHES "kvrbench")
  message(FATAL_ERROR "the default build has test or benchmark targets:\n${targets}")
endif()
file(REMOVE_RECURSE ${BINARY})
