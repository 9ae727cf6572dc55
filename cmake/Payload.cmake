# The update's store, built from a manifest (see payload/update.toml).
#
#   vr_add_updater(<target> MANIFEST <toml> [OUTPUT_NAME <name>] [CORE <library>]
#                  [NO_VERIFY])
#     An updater executable whose "FILES" store holds the update list, the
#     change history, the two auxiliary libraries and one SZDD entry per file
#     of the manifest. The real updater and every test variant are built so;
#     CORE names another build of updater_core's sources (the killable one).
#   vr_add_store_library(<target> MANIFEST <toml> [NO_VERIFY])
#     A DLL that holds nothing but the same store, for tests that point the
#     store seam at it.
#
# Both set these properties on <target>:
#   VR_PAYLOAD_DIR         build/payload/<id>: UPLIST.INI, store.rc, bin/GGFF.BIN
#   VR_PAYLOAD_SOURCE_DIR  build/payload/<id>/src: the expanded payload, one
#                          file per entry named GGFF_<file name>
# Unless NO_VERIFY is given, building <target> also expands every payload
# entry of the built module through LZ32.DLL under Wine and compares it with
# its source (stamp <target>.verified in the payload folder). A machine that
# cannot run the module's code says so and leaves the stamp unmade; the
# tests check the shipped store on the host as well.
#
# A manifest is turned into payload once per build tree, however many
# targets embed it.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/Szdd.cmake)

# Cache entries, so every directory sees them whichever included this first.
get_filename_component(root ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(VR_PAYLOAD_TOOL ${root}/tools/uplist_gen.py CACHE INTERNAL "")
set(VR_PAYLOAD_HOME ${root}/payload CACHE INTERNAL "")
set(VR_PAYLOAD_EMULATOR ${root}/tests/harness/wine-emulator.sh CACHE INTERNAL "")
set(VR_PAYLOAD_STAMPED ${root}/tests/harness/stamp-unless-skipped.sh CACHE INTERNAL "")
option(VR_VERIFY_PAYLOAD "Expand every store entry under Wine at build time and compare" ON)

# vr_payload(<id> <manifest> <out-var>): makes the payload of one manifest
# (once) and returns its folder; the custom target <id>_payload builds it.
function(vr_payload id manifest out_dir)
  get_filename_component(manifest ${manifest} ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
  # Remembered under the manifest's own path: a property name may be any text.
  get_property(known GLOBAL PROPERTY "VR_PAYLOAD_DIR:${manifest}")
  if(known)
    set(${out_dir} ${known} PARENT_SCOPE)
    return()
  endif()

  set(dir ${CMAKE_BINARY_DIR}/payload/${id})
  set(scale ${VR_PAYLOAD_SCALE})
  execute_process(
    COMMAND ${Python3_EXECUTABLE} ${VR_PAYLOAD_TOOL} plan
            --manifest ${manifest} --scale ${scale} --outdir ${dir}
    RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(rc)
    message(FATAL_ERROR "The manifest ${manifest} cannot be built:\n${err}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${manifest} ${VR_PAYLOAD_TOOL})
  include(${dir}/plan.cmake)

  set(tool ${Python3_EXECUTABLE} ${VR_PAYLOAD_TOOL})
  set(packed_all "")
  set(staged_all "")
  foreach(e IN LISTS VR_PAYLOAD_ENTRIES)
    set(kind ${VR_E${e}_KIND})
    set(input_args "")
    set(deps "")
    if(kind STREQUAL "pe")
      # A program or library of its own: one shared stub, the entry's version
      # resource.
      set(pe ${id}_pe${e})
      if(VR_E${e}_PE_TYPE STREQUAL "exe")
        add_executable(${pe} WIN32 EXCLUDE_FROM_ALL
          ${VR_PAYLOAD_HOME}/module/PayloadModule.c ${dir}/rc/${e}.rc)
      else()
        add_library(${pe} SHARED EXCLUDE_FROM_ALL
          ${VR_PAYLOAD_HOME}/module/PayloadModule.c ${dir}/rc/${e}.rc)
        target_compile_definitions(${pe} PRIVATE PAYLOAD_MODULE_DLL)
        set_target_properties(${pe} PROPERTIES PREFIX "")
      endif()
      vr_warnings(${pe})
      set_target_properties(${pe} PROPERTIES
        OUTPUT_NAME ${e}
        RUNTIME_OUTPUT_DIRECTORY ${dir}/pe
        LIBRARY_OUTPUT_DIRECTORY ${dir}/pe
        ARCHIVE_OUTPUT_DIRECTORY ${dir}/pe)
      set(input_args --input $<TARGET_FILE:${pe}>)
      set(deps ${pe})
    elseif(kind STREQUAL "target")
      set(input_args --input $<TARGET_FILE:${VR_E${e}_TARGET}>)
      set(deps ${VR_E${e}_TARGET})
    elseif(kind STREQUAL "file")
      set(input_args --input ${VR_E${e}_INPUT})
      set(deps ${VR_E${e}_INPUT})
    endif()
    add_custom_command(
      OUTPUT ${VR_E${e}_STAGED}
      COMMAND ${tool} stage --manifest ${manifest} --scale ${scale} --entry ${e}
              --out ${VR_E${e}_STAGED} ${input_args}
      DEPENDS ${manifest} ${VR_PAYLOAD_TOOL} ${deps}
      COMMENT "Payload ${id}: ${e} ${VR_E${e}_NAME}"
      VERBATIM)
    vr_szdd(${VR_E${e}_STAGED} ${VR_E${e}_PACKED})
    list(APPEND packed_all ${VR_E${e}_PACKED})
    list(APPEND staged_all ${VR_E${e}_STAGED})
  endforeach()

  add_custom_command(
    OUTPUT ${dir}/UPLIST.INI
    COMMAND ${tool} uplist --manifest ${manifest} --out ${dir}/UPLIST.INI --outdir ${dir}
    DEPENDS ${manifest} ${VR_PAYLOAD_TOOL} ${staged_all}
    COMMENT "Payload ${id}: UPLIST.INI"
    VERBATIM)

  # The store: update list, change history, the two auxiliary libraries and
  # the payload entries, all under Japanese.
  get_property(msg GLOBAL PROPERTY VR_MSG_TXT)
  get_property(msg_target GLOBAL PROPERTY VR_MSG_TXT_TARGET)
  if(NOT msg)
    message(FATAL_ERROR "vr_payload: no change history (global property VR_MSG_TXT)")
  endif()
  file(READ ${dir}/store-entries.rc entries_rc)
  file(GENERATE OUTPUT ${dir}/store.rc CONTENT
"// Generated from ${manifest}; do not edit. The resource compiler joins
// adjacent string literals: a LANGUAGE statement separates the entries.
LANGUAGE 0x11, 0x01
\"UPLIST.INI\" FILES \"${dir}/UPLIST.INI\"
LANGUAGE 0x11, 0x01
\"MSG.TXT\" FILES \"${msg}\"
LANGUAGE 0x11, 0x01
\"QFIECHECK.DLL\" FILES \"$<TARGET_FILE:payload_qfiecheck>\"
LANGUAGE 0x11, 0x01
\"SCHEDSTOP.DLL\" FILES \"$<TARGET_FILE:payload_schedstop>\"
${entries_rc}")
  file(READ ${dir}/verify-entries.list entries_list)
  file(GENERATE OUTPUT ${dir}/verify.list CONTENT
"raw\tUPLIST.INI\t${dir}/UPLIST.INI\t
raw\tMSG.TXT\t${msg}\t
raw\tQFIECHECK.DLL\t$<TARGET_FILE:payload_qfiecheck>\t
raw\tSCHEDSTOP.DLL\t$<TARGET_FILE:payload_schedstop>\t
${entries_list}")

  add_custom_target(${id}_payload
    DEPENDS ${packed_all} ${dir}/UPLIST.INI ${msg_target} payload_qfiecheck payload_schedstop)
  # Every file the store embeds, the two auxiliary libraries included (where
  # payload/CMakeLists.txt puts them): a rebuilt library must rebuild every
  # store that carries it.
  set_property(TARGET ${id}_payload PROPERTY VR_STORE_DEPENDS
    ${packed_all} ${dir}/UPLIST.INI ${msg}
    ${CMAKE_BINARY_DIR}/payload/QFIECHECK.dll ${CMAKE_BINARY_DIR}/payload/SCHEDSTOP.dll)
  set_property(GLOBAL PROPERTY "VR_PAYLOAD_DIR:${manifest}" ${dir})
  set_property(GLOBAL PROPERTY "VR_PAYLOAD_TARGET:${manifest}" ${id}_payload)
  set(${out_dir} ${dir} PARENT_SCOPE)
endfunction()

# Wires the store of <manifest> into <target> (whose sources already list
# ${dir}/store.rc) and, unless told not to, verifies the built module.
function(_vr_use_payload target manifest dir no_verify)
  get_filename_component(manifest ${manifest} ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
  get_property(payload_target GLOBAL PROPERTY "VR_PAYLOAD_TARGET:${manifest}")
  get_property(store_deps TARGET ${payload_target} PROPERTY VR_STORE_DEPENDS)
  add_dependencies(${target} ${payload_target})
  set_source_files_properties(${dir}/store.rc PROPERTIES
    GENERATED TRUE OBJECT_DEPENDS "${store_deps}")
  set_target_properties(${target} PROPERTIES
    VR_PAYLOAD_DIR ${dir} VR_PAYLOAD_SOURCE_DIR ${dir}/src)
  if(VR_VERIFY_PAYLOAD AND NOT no_verify)
    set(stamp ${dir}/${target}.verified)
    add_custom_command(
      OUTPUT ${stamp}
      COMMAND ${CMAKE_COMMAND} -E env VR_WINE_TEMPLATES=${VR_WINE_TEMPLATES}
              ${VR_PAYLOAD_STAMPED} ${stamp} ${VR_PAYLOAD_EMULATOR}
              $<TARGET_FILE:payload_verify> $<TARGET_FILE:${target}> ${dir}/verify.list
      DEPENDS ${target} payload_verify ${dir}/verify.list
      COMMENT "Verifying the store of ${target} through LZ32.DLL"
      VERBATIM)
    add_custom_target(${target}_verified ALL DEPENDS ${stamp})
  endif()
endfunction()

function(vr_add_updater target)
  cmake_parse_arguments(U "NO_VERIFY" "MANIFEST;OUTPUT_NAME;CORE" "" ${ARGN})
  if(NOT U_MANIFEST)
    message(FATAL_ERROR "vr_add_updater(${target}): MANIFEST is required")
  endif()
  vr_payload(${target} ${U_MANIFEST} dir)
  vr_updater_executable(${target} STORE_RC ${dir}/store.rc CORE ${U_CORE})
  if(U_OUTPUT_NAME)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${U_OUTPUT_NAME})
  endif()
  _vr_use_payload(${target} ${U_MANIFEST} ${dir} "${U_NO_VERIFY}")
endfunction()

function(vr_add_store_library target)
  cmake_parse_arguments(S "NO_VERIFY" "MANIFEST" "" ${ARGN})
  if(NOT S_MANIFEST)
    message(FATAL_ERROR "vr_add_store_library(${target}): MANIFEST is required")
  endif()
  vr_payload(${target} ${S_MANIFEST} dir)
  add_library(${target} SHARED ${VR_PAYLOAD_HOME}/module/PayloadModule.c ${dir}/store.rc)
  target_compile_definitions(${target} PRIVATE PAYLOAD_MODULE_DLL)
  set_target_properties(${target} PROPERTIES PREFIX "")
  vr_warnings(${target})
  _vr_use_payload(${target} ${S_MANIFEST} ${dir} "${S_NO_VERIFY}")
endfunction()
