# Group selection, passes and in-use checks: key files of chosen versions
# (resource-only libraries that tests copy and pad), sound-effect libraries
# with chosen filter counts, and a store with a list shaped like the shipped one.
foreach(item 10280-10-2-8-0 10290-10-2-9-0 10300-10-3-0-0 10310-10-3-1-0 10005-10-0-0-5)
  string(REPLACE "-" ";" parts ${item})
  list(GET parts 0 id)
  list(GET parts 1 v1)
  list(GET parts 2 v2)
  list(GET parts 3 v3)
  list(GET parts 4 v4)
  add_library(groups_key_${id} MODULE groups_keyfile.rc)
  target_compile_definitions(groups_key_${id} PRIVATE KEY_V1=${v1} KEY_V2=${v2} KEY_V3=${v3}
    KEY_V4=${v4})
  # The C runtime's default entry point is all the code it has.
  set_target_properties(groups_key_${id} PROPERTIES PREFIX "" LINKER_LANGUAGE C)
  list(APPEND groups_helpers groups_key_${id})
endforeach()
foreach(item sfx2:SFX_COUNT=2 sfx3:SFX_COUNT=3 sfx4:SFX_COUNT=4 sfx5:SFX_COUNT=5
    sfx3_stdcall:SFX_COUNT=3,SFX_STDCALL sfx5_loadfails:SFX_COUNT=5,SFX_LOAD_FAILS
    sfx5_nofree:SFX_COUNT=5,SFX_NO_FREE)
  string(REPLACE ":" ";" parts ${item})
  list(GET parts 0 name)
  list(GET parts 1 defines)
  string(REPLACE "," ";" defines ${defines})
  add_library(groups_${name} MODULE groups_soundfx.c)
  target_compile_definitions(groups_${name} PRIVATE ${defines})
  vr_warnings(groups_${name})
  # Undecorated names for the stdcall flavour as well.
  set_target_properties(groups_${name} PROPERTIES PREFIX "" LINK_FLAGS "-Wl,--kill-at")
  list(APPEND groups_helpers groups_${name})
endforeach()
add_library(groups_store MODULE groups_store.rc)
set_target_properties(groups_store PROPERTIES PREFIX "" LINKER_LANGUAGE C)
set_source_files_properties(groups_store.rc PROPERTIES OBJECT_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/groups_list.ini)
list(APPEND groups_helpers groups_store replace_store replace_holder VrComServer)

vr_add_gtest(groups_tests SOURCES groups_tests.cpp ${VR_TESTS_DIR}/support/GroupsSupport.cpp)
add_dependencies(groups_tests ${groups_helpers})
vr_add_wine_test(NAME groups_win7_64 COMMAND groups_tests --expect-os-class=5 WINVER win7)
vr_add_wine_test(NAME groups_vista_32 COMMAND groups_tests --expect-os-class=4 ARCH win32
  WINVER vista)
vr_add_wine_test(NAME groups_xp_32 COMMAND groups_tests --expect-os-class=2 ARCH win32
  WINVER winxp)
include(system_tests.cmake)

vr_add_gtest(inuse_tests SOURCES inuse_tests.cpp ${VR_TESTS_DIR}/support/GroupsSupport.cpp)
add_dependencies(inuse_tests ${groups_helpers})
vr_add_wine_test(NAME inuse_win7_64 COMMAND inuse_tests WINVER win7)
vr_add_wine_test(NAME inuse_xp_32 COMMAND inuse_tests ARCH win32 WINVER winxp)
# Read-only files are refused only to a user other than root.
vr_add_wine_test(NAME inuse_readonly COMMAND inuse_tests --gtest_filter=*ReadOnly* NOBODY)
