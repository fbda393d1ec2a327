# Reads a PE32+ image's headers from its bytes, as Microsoft's PE format
# documentation lays them out, so that the checks of a built program need no
# tool of either toolchain and read MinGW's and MSVC's files alike.
#
#   pe_load(<file>)   sets, in the caller's scope, pe_file, pe_hex (the file
#                     as hex), pe_nt (offset of the PE signature),
#                     pe_optional (offset of the optional header) and
#                     pe_sections (one "name;rva;size;offset;flags" entry each,
#                     with ',' for ';')
#   pe_number(<var> <offset> <size>)   the little-endian number there
#   pe_directory(<rva var> <size var> <index>)   a data directory
#   pe_offset(<var> <rva> <what>)      the file offset of an RVA; fails,
#                                      naming <what>, when no section holds it
#   pe_text(<var> <offset>)            the NUL-terminated ASCII text there
#   pe_section_of(<var> <rva>)         the sections entry holding an RVA, or ""
#   pe_imported_dlls(<var>)            the DLLs named by the import and the
#                                      delay-load import tables

# Section flags (IMAGE_SCN_*).
set(PE_SCN_MEM_SHARED 0x10000000)
set(PE_SCN_MEM_EXECUTE 0x20000000)
set(PE_SCN_MEM_WRITE 0x80000000)

function(pe_number out offset size)
  math(EXPR at "(${offset}) * 2")
  math(EXPR length "(${size}) * 2")
  string(SUBSTRING "${pe_hex}" ${at} ${length} bytes)
  string(LENGTH "${bytes}" got)
  if(NOT got EQUAL length)
    message(FATAL_ERROR "${pe_file}: ${size} bytes at ${offset} lie past its end")
  endif()
  string(REGEX MATCHALL ".." pairs "${bytes}")
  list(REVERSE pairs)
  string(JOIN "" hex ${pairs})
  math(EXPR value "0x${hex}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# A function, not a macro: a macro's arguments are pasted into its body
# before the body is parsed, so a Windows path's backslashes (D:\a\...)
# would be read as escapes, and "\a" is an error.
function(pe_load file)
  set(pe_file "${file}")
  file(READ "${file}" pe_hex HEX)
  if(NOT pe_hex MATCHES "^4d5a")
    message(FATAL_ERROR "${file} is not a PE image (no MZ header)")
  endif()
  pe_number(pe_nt 60 4)
  pe_number(signature ${pe_nt} 4)
  if(NOT signature EQUAL 0x4550)
    message(FATAL_ERROR "${file} has no PE signature")
  endif()
  pe_number(section_count "${pe_nt} + 6" 2)
  pe_number(optional_size "${pe_nt} + 20" 2)
  math(EXPR pe_optional "${pe_nt} + 24")
  set(pe_sections "")
  math(EXPR at "${pe_optional} + ${optional_size}")
  foreach(index RANGE 1 ${section_count})
    math(EXPR name_at "${at} * 2")
    string(SUBSTRING "${pe_hex}" ${name_at} 16 name_hex)
    pe_hex_to_text(name "${name_hex}")
    pe_number(size "${at} + 8" 4)
    pe_number(rva "${at} + 12" 4)
    pe_number(raw_size "${at} + 16" 4)
    pe_number(raw "${at} + 20" 4)
    pe_number(flags "${at} + 36" 4)
    if(raw_size GREATER size)
      set(size ${raw_size})
    endif()
    list(APPEND pe_sections "${name},${rva},${size},${raw},${flags}")
    math(EXPR at "${at} + 40")
  endforeach()
  foreach(name pe_file pe_hex pe_nt pe_optional pe_sections)
    set(${name} "${${name}}" PARENT_SCOPE)
  endforeach()
endfunction()

# The ASCII text of hex bytes, up to the first NUL.
function(pe_hex_to_text out hex)
  set(text "")
  string(REGEX MATCHALL ".." pairs "${hex}")
  foreach(pair IN LISTS pairs)
    math(EXPR code "0x${pair}")
    if(code EQUAL 0)
      break()
    endif()
    if(code LESS 32 OR code GREATER 126)
      set(code 63)  # '?': a name is ASCII
    endif()
    string(ASCII ${code} char)
    string(APPEND text "${char}")
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(pe_directory rva_out size_out index)
  pe_number(count "${pe_optional} + 108" 4)
  if(index GREATER_EQUAL count)
    set(${rva_out} 0 PARENT_SCOPE)
    set(${size_out} 0 PARENT_SCOPE)
    return()
  endif()
  pe_number(rva "${pe_optional} + 112 + 8 * ${index}" 4)
  pe_number(size "${pe_optional} + 116 + 8 * ${index}" 4)
  set(${rva_out} ${rva} PARENT_SCOPE)
  set(${size_out} ${size} PARENT_SCOPE)
endfunction()

function(pe_section_of out rva)
  foreach(section IN LISTS pe_sections)
    string(REPLACE "," ";" fields "${section}")
    list(GET fields 1 start)
    list(GET fields 2 size)
    math(EXPR end "${start} + ${size}")
    if(rva GREATER_EQUAL start AND rva LESS end)
      set(${out} "${section}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

function(pe_offset out rva what)
  pe_section_of(section ${rva})
  if(NOT section)
    message(FATAL_ERROR "${pe_file}: ${what} lies in no section")
  endif()
  string(REPLACE "," ";" fields "${section}")
  list(GET fields 1 start)
  list(GET fields 3 raw)
  math(EXPR offset "${raw} + ${rva} - ${start}")
  set(${out} ${offset} PARENT_SCOPE)
endfunction()

function(pe_text out offset)
  math(EXPR at "${offset} * 2")
  string(SUBSTRING "${pe_hex}" ${at} 512 hex)
  pe_hex_to_text(text "${hex}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(pe_imported_dlls out)
  set(dlls "")
  # IMAGE_DIRECTORY_ENTRY_IMPORT: 20-byte descriptors, the name's RVA at 12;
  # IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT: 32-byte descriptors, the name's RVA
  # at 4. Each table ends with an all-zero descriptor.
  foreach(table "1;20;12" "13;32;4")
    list(GET table 0 index)
    list(GET table 1 stride)
    list(GET table 2 name_field)
    pe_directory(rva size ${index})
    if(rva EQUAL 0)
      continue()
    endif()
    pe_offset(at ${rva} "import table ${index}")
    while(TRUE)
      pe_number(name_rva "${at} + ${name_field}" 4)
      if(name_rva EQUAL 0)
        break()
      endif()
      pe_offset(name_at ${name_rva} "an import's DLL name")
      pe_text(dll ${name_at})
      list(APPEND dlls "${dll}")
      math(EXPR at "${at} + ${stride}")
    endwhile()
  endforeach()
  set(${out} "${dlls}" PARENT_SCOPE)
endfunction()
