# The program's logic, one list for every build of it: both programs
# (CMakeLists.txt) and the fuzz targets (fuzz/CMakeLists.txt).
#   hwpurge_logic_sources(<root> <out var>)
function(hwpurge_logic_sources root out_var)
  set(sources
    cli/entry.cpp
    cli/preview_entry.cpp
    preview/driver_packages.cpp
    preview/json_writer.cpp
    preview/preview_devices.cpp
    preview/read_node.cpp
    preview/write_list.cpp
    preview/write_summary.cpp
    removal/device_walk.cpp
    removal/hardware_id.cpp
    removal/remove_devices.cpp
    removal/report_failure.cpp)
  list(TRANSFORM sources PREPEND ${root}/)
  set(${out_var} ${sources} PARENT_SCOPE)
endfunction()
