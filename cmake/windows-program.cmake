# What every Windows program of hwpurge gets: a version record and manifest
# made from the project version, its runtimes linked in, the hardening and
# reproducibility flags, stripped debug sections in the shipped configurations,
# and the PE header and import checks under tests/pe.
#
#   hwpurge_windows_program(<target> DESCRIPTION <text>)
#
# The release package (scripts/release.sh) ships every program named here.

if(WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # For every object that goes into a Windows program. The stack guard and
  # its failure handlers are the entry point's (platform/windows/start.cpp),
  # which seeds the guard without a crypto provider; the checked string
  # functions of _FORTIFY_SOURCE come from libssp, which the static link takes
  # in.
  add_compile_options(-fstack-protector-strong)
  add_link_options(-fstack-protector-strong)
  # _FORTIFY_SOURCE only acts when optimising; at -O0 the headers warn.
  add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  # No build folder in the binary: paths are kept relative to the tree.
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/= -ffile-prefix-map=${PROJECT_BINARY_DIR}/=)
elseif(MSVC)
  # What Visual Studio gives beyond MinGW, for every object and program of the
  # tree: the SDL checks, Control Flow Guard, CET shadow-stack compatibility,
  # a static import's own imports from System32 alone
  # (LOAD_LIBRARY_SEARCH_SYSTEM32), and no time stamps, so that a rebuild is
  # byte-identical. /Brepro is the compiler's and linker's own switch for it.
  add_compile_options(/sdl /guard:cf /Brepro)
  add_link_options(/guard:cf /CETCOMPAT /DEPENDENTLOADFLAG:0x800 /Brepro)
endif()

option(HWPURGE_LINK_MAP "Write the linker's map of each Windows program beside it (scripts/release.sh sets it)" OFF)

set(HWPURGE_WINDOWS_TEMPLATES ${CMAKE_CURRENT_LIST_DIR}/../platform/windows)

function(hwpurge_windows_program target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESCRIPTION" "")
  if(NOT arg_DESCRIPTION)
    message(FATAL_ERROR "hwpurge_windows_program(${target}): DESCRIPTION is required")
  endif()

  # The templates read these names.
  set(HWPURGE_PROGRAM_NAME ${target})
  set(HWPURGE_PROGRAM_DESCRIPTION "${arg_DESCRIPTION}")
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/windows/${target})
  configure_file(${HWPURGE_WINDOWS_TEMPLATES}/program.manifest.in ${generated}/${target}.manifest @ONLY)
  configure_file(${HWPURGE_WINDOWS_TEMPLATES}/program.rc.in ${generated}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${generated}/${target}.rc)
  set_property(SOURCE ${generated}/${target}.rc APPEND PROPERTY OBJECT_DEPENDS ${generated}/${target}.manifest)

  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # One file a technician copies to a machine: system DLLs only.
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
    # ASLR (with a relocation section) and DEP, said rather than left to the
    # linker's defaults; no link time stamp, so a rebuild is byte-identical.
    target_link_options(${target} PRIVATE
      -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat -Wl,--no-insert-timestamp
      # The shipped configurations carry no debug sections.
      $<$<CONFIG:Release,MinSizeRel>:-s>)
    # The linker's map beside the program: which archive members the link
    # took, from which library. The release reads it for the notices and the
    # SBOM; the map changes nothing in the program.
    if(HWPURGE_LINK_MAP)
      target_link_options(${target} PRIVATE "-Wl,-Map=$<TARGET_FILE_DIR:${target}>/${target}.map")
    endif()
  elseif(MSVC)
    # The manifest comes from the .rc file; the linker must not add its own.
    target_link_options(${target} PRIVATE /MANIFEST:NO /DYNAMICBASE /HIGHENTROPYVA /NXCOMPAT)
  endif()
  set_property(GLOBAL APPEND PROPERTY HWPURGE_WINDOWS_PROGRAMS ${target})
endfunction()
