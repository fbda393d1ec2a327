# The program's logic, one list for every build of it: both programs
# (CMakeLists.txt) and the fuzz targets (fuzz/CMakeLists.txt).
#   hwpurge_logic_sources(<root> <out var>)
function(hwpurge_logic_sources root out_var)
  set(sources
    cli/entry.cpp
    cli/preview_entry.cpp
    removal/device_walk.cpp
    removal/driver_packages.cpp
    removal/hardware_id.cpp
    removal/json_writer.cpp
    removal/preview_devices.cpp
    removal/remove_devices.cpp
    removal/report_failure.cpp)
  list(TRANSFORM sources PREPEND ${root}/)
  set(${out_var} ${sources} PARENT_SCOPE)
endfunction()
