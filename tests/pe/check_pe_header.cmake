# Fails unless PROGRAM's PE header keeps the protections hwpurge ships with:
# ASLR (dynamic base, high-entropy addresses, and a .reloc section so the
# loader can move the image) and DEP (NX compatible); with STRIPPED=ON, no
# .debug_* sections. Nor may the file carry what would make two builds of one
# commit differ: a link time stamp, or the folder it was built in (FORBIDDEN).
# usage: cmake -DOBJDUMP=<objdump> -DPROGRAM=<exe> [-DSTRIPPED=ON] [-DFORBIDDEN=<path>] -P check_pe_header.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p -h ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} -p -h ${PROGRAM} failed")
endif()

set(problems "")
if(NOT dump MATCHES "DllCharacteristics[ \t]+([0-9a-fA-F]+)")
  message(FATAL_ERROR "no DllCharacteristics in the header of ${PROGRAM}")
endif()
math(EXPR bits "0x${CMAKE_MATCH_1}")
message(STATUS "DllCharacteristics 0x${CMAKE_MATCH_1}")
# IMAGE_DLLCHARACTERISTICS_*
foreach(flag HIGH_ENTROPY_VA:0x0020 DYNAMIC_BASE:0x0040 NX_COMPAT:0x0100)
  string(REPLACE ":" ";" flag "${flag}")
  list(GET flag 0 name)
  list(GET flag 1 mask)
  math(EXPR set "${bits} & ${mask}")
  if(set EQUAL 0)
    list(APPEND problems "${name} is not set")
  endif()
endforeach()

# The COFF header's TimeDateStamp, 8 bytes into the header e_lfanew points at.
file(READ ${PROGRAM} lfanew OFFSET 60 LIMIT 4 HEX)
string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" lfanew "${lfanew}")
math(EXPR stamp_at "0x${lfanew} + 8")
file(READ ${PROGRAM} stamp OFFSET ${stamp_at} LIMIT 4 HEX)
if(NOT stamp STREQUAL "00000000")
  list(APPEND problems "it carries a link time stamp (${stamp})")
endif()

# Section lines of `objdump -h`: index, name, size, ...
string(REGEX MATCHALL "\n +[0-9]+ +[^ \t\n]+" section_lines "${dump}")
set(sections "")
foreach(line IN LISTS section_lines)
  string(REGEX REPLACE "^\n +[0-9]+ +" "" name "${line}")
  list(APPEND sections ${name})
endforeach()
message(STATUS "sections ${sections}")
if(NOT ".reloc" IN_LIST sections)
  list(APPEND problems "there is no .reloc section")
endif()
if(STRIPPED)
  foreach(name IN LISTS sections)
    if(name MATCHES "^\\.debug")
      list(APPEND problems "it carries the debug section ${name}")
    endif()
  endforeach()
endif()

if(FORBIDDEN)
  file(STRINGS ${PROGRAM} texts)
  string(FIND "${texts}" "${FORBIDDEN}" at)
  if(NOT at EQUAL -1)
    list(APPEND problems "it names the folder it was built in, ${FORBIDDEN}")
  endif()
endif()

if(problems)
  list(JOIN problems "; " problems)
  message(FATAL_ERROR "${PROGRAM}: ${problems}")
endif()
message(STATUS "${PROGRAM}: ASLR, DEP and its sections as expected")
