# The SZDD packer is a build-time tool: it is compiled with the build
# machine's own compiler (the project itself is cross-compiled) into
# ${CMAKE_BINARY_DIR}/host/szddpack, behind the custom target `szddpack`.
#
#   vr_szdd(<input> <output>)
# adds a custom command whose OUTPUT is <output>, the SZDD-packed <input>;
# list <output> among the sources or dependencies of whatever embeds it.
include_guard(GLOBAL)

set(VR_SZDDPACK ${CMAKE_BINARY_DIR}/host/szddpack CACHE INTERNAL "SZDD packer (host program)")

function(vr_szdd input output)
  get_filename_component(input ${input} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  get_filename_component(output ${output} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_BINARY_DIR})
  get_filename_component(outdir ${output} DIRECTORY)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${outdir}
    COMMAND ${VR_SZDDPACK} ${input} ${output}
    DEPENDS ${input} ${VR_SZDDPACK} szddpack
    COMMENT "SZDD-packing ${input}"
    VERBATIM)
endfunction()
