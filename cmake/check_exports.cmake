# Holds a shared library to its promise: it exports exactly the names in
# EXPECTED (comma-separated) and, with NO_EXIT set, never references a function that
# ends the process on its host's behalf; with NO_PRINT set, it never references the
# C or C++ output streams either (its only message, about an unopenable trace
# file, is one write(2) to descriptor 2, which this check cannot tell from the
# trace's own writes).
#   cmake -DLIB=path -DEXPECTED=a,b [-DNO_EXIT=ON] [-DNO_PRINT=ON] -P check_exports.cmake
execute_process(COMMAND nm -D --defined-only ${LIB} OUTPUT_VARIABLE defined RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${defined}")
set(names)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* " "" name "${line}")
  list(APPEND names ${name})
endforeach()
list(SORT names)
string(REPLACE "," ";" expected "${EXPECTED}")
list(SORT expected)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ:\n  got:      ${names}\n  expected: ${expected}")
endif()
if(NO_EXIT)
  execute_process(COMMAND nm -D --undefined-only ${LIB} OUTPUT_VARIABLE undefined)
  if(undefined MATCHES "[ \t](exit|_exit)(@|\n)")
    message(FATAL_ERROR "the library references a process-ending function:\n${undefined}")
  endif()
endif()
if(NO_PRINT)
  execute_process(COMMAND nm -D --undefined-only ${LIB} OUTPUT_VARIABLE undefined)
  set(streams "printf|fprintf|vprintf|vfprintf|dprintf|puts|fputs|fputc|putc|putchar|fwrite|perror|stdout|stderr|_ZSt4cout|_ZSt4cerr|_ZSt4clog")
  if(undefined MATCHES "[ \t](${streams})(@|\n)")
    message(FATAL_ERROR "the library references an output stream:\n${undefined}")
  endif()
endif()
