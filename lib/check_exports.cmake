# Holds the library's promise: exactly the 17 KVR functions are exported, and
# the library never ends the process on its caller's behalf.
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
set(expected KVRConnectClose KVRConnectOpen KVRCreateConnect KVRDestroyConnect
  KVRExecute KVRExecuteOutput KVRGetLastError KVRKill KVRListGet KVRListLength
  KVRListSet KVRRead KVRSetCallback KVRSetGroupRead KVRSetOutput KVRText KVRWrite)
list(SORT expected)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ:\n  got:      ${names}\n  expected: ${expected}")
endif()
execute_process(COMMAND nm -D --undefined-only ${LIB} OUTPUT_VARIABLE undefined)
if(undefined MATCHES "[ \t](exit|_exit)(@|\n)")
  message(FATAL_ERROR "the library references a process-ending function:\n${undefined}")
endif()
