# Compares the dynamic symbols a library defines with the expected list, so an
# accidental export or a missing one fails. Usage:
#   cmake -DNM=nm -DLIBRARY=libQVAlgDll.so -DEXPECTED=list.txt -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(actual "")
foreach(line ${lines})
  # "<address> <type> <name>"; versioned names carry "@..."
  if(line MATCHES "^[0-9a-fA-F]+ +[A-Za-z] +([^@ ]+)")
    list(APPEND actual ${CMAKE_MATCH_1})
  endif()
endforeach()
file(STRINGS ${EXPECTED} expected REGEX "^[^#]")
list(SORT actual)
list(SORT expected)
set(extra ${actual})
list(REMOVE_ITEM extra ${expected})
set(missing ${expected})
list(REMOVE_ITEM missing ${actual})
if(extra OR missing)
  message(FATAL_ERROR "exported symbols differ\n  unexpected: ${extra}\n  missing: ${missing}")
endif()
list(LENGTH actual count)
message(STATUS "${count} exported symbols, as expected")
