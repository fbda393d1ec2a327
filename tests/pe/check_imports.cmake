# Fails unless PROGRAM is a 64-bit console program whose imports, static and
# delay-loaded, are all KnownDLLs: Windows takes a KnownDLL from System32
# whatever the search order, so no DLL beside the program or in the current
# directory can stand in for one, and the one file runs on a machine with
# nothing else installed.
# usage: cmake -DPROGRAM=<exe> [-DKNOWN_DLLS=<list>|registry] -P check_imports.cmake
#   KNOWN_DLLS=registry holds the program to the list of the Windows machine
#   it runs on, read live, and prints that list beside the one written here.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/pe_image.cmake)

# Microsoft, "Dynamic-link library search order" (learn.microsoft.com/windows/
# win32/dlls/dynamic-link-library-search-order), "Known DLLs": the system uses
# its own copy of a known DLL, and of its dependencies; the list is the
# registry key HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs.
# These are its values on 64-bit Windows 10 and 11, less the WOW64 ones, as
# written from the documentation and from memory; CI prints its Windows
# runners' own beside them (KNOWN_DLLS=registry). ntdll.dll, the loader
# itself, is in every process before anything is searched. cfgmgr32.dll is
# not among them.
set(known_dlls
  advapi32.dll clbcatq.dll combase.dll comdlg32.dll coml2.dll difxapi.dll gdi32.dll gdiplus.dll imagehlp.dll
  imm32.dll kernel32.dll msctf.dll msvcrt.dll normaliz.dll nsi.dll ntdll.dll ole32.dll oleaut32.dll psapi.dll
  rpcrt4.dll sechost.dll setupapi.dll shcore.dll shell32.dll shlwapi.dll user32.dll wldap32.dll ws2_32.dll)

if(KNOWN_DLLS STREQUAL "registry")
  set(key "HKLM/SYSTEM/CurrentControlSet/Control/Session Manager/KnownDLLs")
  cmake_host_system_information(RESULT names QUERY WINDOWS_REGISTRY "${key}" VALUE_NAMES VIEW 64
                                ERROR_VARIABLE error)
  if(error OR NOT names)
    message(FATAL_ERROR "cannot read the KnownDLLs of this machine (${key}): ${error}")
  endif()
  set(live ntdll.dll)
  foreach(name IN LISTS names)
    cmake_host_system_information(RESULT dll QUERY WINDOWS_REGISTRY "${key}" VALUE "${name}" VIEW 64)
    string(TOLOWER "${dll}" dll)
    # The key also names the folders the DLLs are taken from.
    if(dll MATCHES "^[^/\\]+\\.dll$")
      list(APPEND live ${dll})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES live)
  list(SORT live)
  set(only_live ${live})
  list(REMOVE_ITEM only_live ${known_dlls})
  set(only_written ${known_dlls})
  list(REMOVE_ITEM only_written ${live})
  foreach(part live only_live only_written)
    string(REPLACE ";" " " ${part} "${${part}}")
  endforeach()
  message(STATUS "KnownDLLs of this machine, and ntdll.dll: ${live}")
  message(STATUS "  of these, not written in check_imports.cmake: ${only_live}")
  message(STATUS "  written in check_imports.cmake, not of these: ${only_written}")
  string(REPLACE " " ";" known_dlls "${live}")
elseif(DEFINED KNOWN_DLLS)
  string(TOLOWER "${KNOWN_DLLS}" known_dlls)
endif()

pe_load("${PROGRAM}")
pe_number(magic ${pe_optional} 2)
if(NOT magic EQUAL 0x20b)
  message(FATAL_ERROR "${PROGRAM} is not a 64-bit (PE32+) image")
endif()
pe_number(subsystem "${pe_optional} + 68" 2)
if(NOT subsystem EQUAL 3)
  message(FATAL_ERROR "${PROGRAM} is not a console program (subsystem ${subsystem})")
endif()
pe_imported_dlls(dlls)
if(NOT dlls)
  message(FATAL_ERROR "no imports found in ${PROGRAM}")
endif()
foreach(dll IN LISTS dlls)
  string(TOLOWER "${dll}" dll)
  message(STATUS "imports ${dll}")
  if(NOT dll IN_LIST known_dlls)
    message(FATAL_ERROR "${PROGRAM} imports ${dll}, which is not a KnownDLL: Windows would look for it beside the program first")
  endif()
endforeach()
