# Fails unless PROGRAM's headers keep the protections hwpurge ships with:
#  - ASLR: dynamic base, high-entropy addresses, a .reloc section so the
#    loader can move the image, and an image base above 4 GB;
#  - DEP: NX compatible; no section both writable and executable, no shared
#    writable section, and imports in sections that are not executable;
#  - with STRIPPED=ON, no debug sections (GNU ld names them .debug_*, or by
#    a long name, "/N");
#  - nothing that would make two builds of one commit differ: a link time
#    stamp, or the folder it was built in (FORBIDDEN);
#  - with MSVC=ON, what only Visual Studio's linker gives: Control Flow Guard
#    (the header bit and an instrumented load config), CET shadow-stack
#    compatibility, DependentLoadFlags 0x800 (a static import's own imports
#    come from System32 alone) and, in place of a zero time stamp, the
#    debug directory's Repro entry of /Brepro.
# Read from the file's bytes (pe_image.cmake), whatever linker made it. The
# MSVC=ON facts have been read here only from an image lld-link made with the
# same switches; no Visual Studio build has been checked by this script yet.
# usage: cmake -DPROGRAM=<exe> [-DSTRIPPED=ON] [-DFORBIDDEN=<path>] [-DMSVC=ON] -P check_pe_header.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/pe_image.cmake)
pe_load("${PROGRAM}")
set(problems "")

function(require_bits value what)
  foreach(flag IN LISTS ARGN)
    string(REPLACE ":" ";" flag "${flag}")
    list(GET flag 0 name)
    list(GET flag 1 mask)
    math(EXPR set "${value} & ${mask}")
    if(set EQUAL 0)
      set(problems ${problems} "${what} ${name} is not set" PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

# IMAGE_DLLCHARACTERISTICS_*
pe_number(characteristics "${pe_optional} + 70" 2)
math(EXPR shown "${characteristics}" OUTPUT_FORMAT HEXADECIMAL)
message(STATUS "DllCharacteristics ${shown}")
require_bits(${characteristics} "DllCharacteristics" HIGH_ENTROPY_VA:0x0020 DYNAMIC_BASE:0x0040 NX_COMPAT:0x0100)

pe_number(base_high "${pe_optional} + 28" 4)
if(base_high EQUAL 0)
  list(APPEND problems "its image base lies below 4 GB")
endif()

set(names "")
foreach(section IN LISTS pe_sections)
  string(REPLACE "," ";" fields "${section}")
  list(GET fields 0 name)
  list(GET fields 4 flags)
  list(APPEND names "${name}")
  math(EXPR writable "${flags} & ${PE_SCN_MEM_WRITE}")
  math(EXPR executable "${flags} & ${PE_SCN_MEM_EXECUTE}")
  math(EXPR shared "${flags} & ${PE_SCN_MEM_SHARED}")
  if(writable AND executable)
    list(APPEND problems "section ${name} is both writable and executable")
  endif()
  if(writable AND shared)
    list(APPEND problems "section ${name} is shared and writable")
  endif()
  if(STRIPPED AND name MATCHES "^(\\.debug|/)")
    list(APPEND problems "it carries the debug section ${name}")
  endif()
endforeach()
message(STATUS "sections ${names}")
if(NOT ".reloc" IN_LIST names)
  list(APPEND problems "there is no .reloc section")
endif()
# The import directory and the import address table.
foreach(index 1 12)
  pe_directory(rva size ${index})
  if(rva EQUAL 0)
    continue()
  endif()
  pe_section_of(section ${rva})
  string(REPLACE "," ";" fields "${section}")
  list(GET fields 0 name)
  list(GET fields 4 flags)
  math(EXPR executable "${flags} & ${PE_SCN_MEM_EXECUTE}")
  if(executable)
    list(APPEND problems "its imports lie in the executable section ${name}")
  endif()
endforeach()

# The debug directory's entries, by IMAGE_DEBUG_TYPE_*: "type:file offset of
# the data".
set(debug_entries "")
pe_directory(debug_rva debug_size 6)
if(debug_rva)
  pe_offset(at ${debug_rva} "its debug directory")
  math(EXPR last "${at} + ${debug_size} - 28")
  foreach(entry RANGE ${at} ${last} 28)
    pe_number(type "${entry} + 12" 4)
    pe_number(data "${entry} + 24" 4)
    list(APPEND debug_entries "${type}:${data}")
  endforeach()
endif()

pe_number(stamp "${pe_nt} + 8" 4)
if(NOT MSVC)
  if(NOT stamp EQUAL 0)
    list(APPEND problems "it carries a link time stamp (${stamp})")
  endif()
else()
  require_bits(${characteristics} "DllCharacteristics" GUARD_CF:0x4000)
  # IMAGE_DEBUG_TYPE_REPRO (16): the stamps are a hash of the contents.
  if(NOT debug_entries MATCHES "(^|;)16:")
    list(APPEND problems "its debug directory has no Repro entry (/Brepro)")
  endif()
  # IMAGE_DEBUG_TYPE_EX_DLLCHARACTERISTICS (20), whose first DWORD holds
  # IMAGE_DLLCHARACTERISTICS_EX_CET_COMPAT (0x1).
  if(debug_entries MATCHES "(^|;)20:([0-9]+)")
    pe_number(extended ${CMAKE_MATCH_2} 4)
    require_bits(${extended} "extended DllCharacteristics" CET_COMPAT:0x1)
  else()
    list(APPEND problems "it is not marked CET compatible (no extended DllCharacteristics)")
  endif()
  # IMAGE_LOAD_CONFIG_DIRECTORY64: DependentLoadFlags at 78, GuardFlags at 144.
  pe_directory(config_rva config_size 10)
  if(config_rva EQUAL 0)
    list(APPEND problems "it has no load config")
  else()
    pe_offset(config ${config_rva} "its load config")
    pe_number(config_length ${config} 4)
    if(config_length LESS 148)
      list(APPEND problems "its load config (${config_length} bytes) is too short for DependentLoadFlags and GuardFlags")
    else()
      pe_number(dependent "${config} + 78" 2)
      if(NOT dependent EQUAL 0x800)
        list(APPEND problems "its DependentLoadFlags are ${dependent}, not 0x800 (LOAD_LIBRARY_SEARCH_SYSTEM32)")
      endif()
      pe_number(guard "${config} + 144" 4)
      require_bits(${guard} "GuardFlags" CF_INSTRUMENTED:0x100)
    endif()
  endif()
endif()

if(FORBIDDEN)
  file(STRINGS "${PROGRAM}" texts)
  # As CMake writes it, and as Windows tools write a path, whichever way the
  # folder was given.
  file(TO_CMAKE_PATH "${FORBIDDEN}" forward)
  string(REPLACE "/" "\\" backslashed "${forward}")
  foreach(folder IN ITEMS "${forward}" "${backslashed}")
    string(FIND "${texts}" "${folder}" at)
    if(NOT at EQUAL -1)
      list(APPEND problems "it names the folder it was built in, ${folder}")
    endif()
  endforeach()
endif()

if(problems)
  list(REMOVE_DUPLICATES problems)
  list(JOIN problems "; " problems)
  message(FATAL_ERROR "${PROGRAM}: ${problems}")
endif()
message(STATUS "${PROGRAM}: ASLR, DEP and its sections as expected")
