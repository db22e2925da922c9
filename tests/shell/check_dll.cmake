# Checks tenvora.dll with objdump: it exports exactly the three entry points
# under their plain names and imports only from system DLLs, so it loads on
# a bare Windows without any runtime of the compiler's.
# Usage: cmake -DOBJDUMP=<objdump> -DDLL=<tenvora.dll> -P check_dll.cmake
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "objdump could not read ${DLL}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" import_lines "${dump}")
set(imports)
foreach(line IN LISTS import_lines)
  string(REPLACE "DLL Name: " "" dll_name "${line}")
  list(APPEND imports "${dll_name}")
endforeach()
list(SORT imports CASE INSENSITIVE)

string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(\t\\[ *[0-9]+\\] [^\n]+\n)*" export_table "${dump}")
string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" export_lines "${export_table}")
set(exports)
foreach(line IN LISTS export_lines)
  string(REGEX REPLACE "^\t\\[ *[0-9]+\\] " "" export_name "${line}")
  list(APPEND exports "${export_name}")
endforeach()
list(SORT exports)

message(STATUS "exports: ${exports}")
message(STATUS "imports: ${imports}")
if(NOT exports STREQUAL "pi_activate;pi_finalize;pi_initialize")
  message(FATAL_ERROR "expected exactly pi_activate, pi_finalize, pi_initialize, got: ${exports}")
endif()
foreach(dll_name IN LISTS imports)
  string(TOLOWER "${dll_name}" lower)
  if(NOT lower MATCHES "^(kernel32|user32|msvcrt)\\.dll$")
    message(FATAL_ERROR "imports from ${dll_name}, which is not a system DLL")
  endif()
endforeach()
