# The simulated machine carries its sample export inside: a rule that turns
# examples/sample-enum.reg into a generated source, shared by every build of
# the simulation (the host program's and the fuzz targets').
function(hwpurge_sample_export_source root out_var)
  set(input ${root}/examples/sample-enum.reg)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/generated/sample_export.cpp)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output}
            -DSYMBOL=kSampleExport -DNAMESPACE=hwsim -P ${root}/cmake/embed-file.cmake
    DEPENDS ${input} ${root}/cmake/embed-file.cmake
    COMMENT "Embedding examples/sample-enum.reg"
    VERBATIM)
  set(${out_var} ${output} PARENT_SCOPE)
endfunction()
