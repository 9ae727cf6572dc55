# Update-list, product-detection and control-library tests, with the small
# libraries they load: control-library flavours, version resources and
# resource-only update lists (the store of a test).

function(list_test_library name)
  cmake_parse_arguments(L "" "" "SOURCES;DEFINES;LINK_OPTIONS" ${ARGN})
  add_library(${name} SHARED ${L_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name})
  target_compile_definitions(${name} PRIVATE ${L_DEFINES})
  target_link_options(${name} PRIVATE ${L_LINK_OPTIONS})
  list(APPEND LIST_TEST_LIBRARIES ${name})
  set(LIST_TEST_LIBRARIES ${LIST_TEST_LIBRARIES} PARENT_SCOPE)
endfunction()

set(LIST_TEST_LIBRARIES)
list_test_library(listqf_cdecl SOURCES list_qfcontrol_dll.c)
list_test_library(listqf_stdcall SOURCES list_qfcontrol_dll.c DEFINES QF_STDCALL
                  LINK_OPTIONS -Wl,--kill-at)
list_test_library(listqf_noappend SOURCES list_qfcontrol_dll.c DEFINES QF_NO_APPEND)
list_test_library(listqf_none SOURCES list_qfcontrol_dll.c DEFINES QF_REPORT_NONE)
list_test_library(listqf_overlong SOURCES list_qfcontrol_dll.c DEFINES QF_OVERLONG)
list_test_library(listqf_env SOURCES list_qfcontrol_dll.c DEFINES QF_FROM_ENV)

# Version resources: first translation Japanese/Unicode with its strings;
# first translation US English while the strings sit under Japanese; none.
list_test_library(listver_ja SOURCES list_empty_dll.c list_versioned.rc)
list_test_library(listver_other SOURCES list_empty_dll.c list_versioned.rc
                  DEFINES LIST_OTHER_FIRST)
list_test_library(listver_none SOURCES list_empty_dll.c)

# One store library per variant list: its "UPLIST.INI" entry.
foreach(variant kinds noversions missing huge overflow overlong cutpath cutversion)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/liststore_${variant}.rc)
  file(WRITE ${rc} "UPLIST.INI FILES \"${CMAKE_CURRENT_SOURCE_DIR}/list_data/${variant}.ini\"\n")
  list_test_library(liststore_${variant} SOURCES list_empty_dll.c ${rc})
  set_source_files_properties(${rc} PROPERTIES
    OBJECT_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/list_data/${variant}.ini)
endforeach()
# A store without the list.
list_test_library(liststore_nolist SOURCES list_empty_dll.c)

vr_add_gtest(list_tests SOURCES list_ini_tests.cpp list_diff_tests.cpp list_detection_tests.cpp
             list_control_tests.cpp list_load_tests.cpp
             ${VR_TESTS_DIR}/support/ListSupport.cpp)
add_dependencies(list_tests ${LIST_TEST_LIBRARIES})
vr_add_wine_test(NAME list COMMAND list_tests)
vr_add_wine_test(NAME list_win32_xp COMMAND list_tests --gtest_filter=*LoadList* ARCH win32
                 WINVER winxp)
vr_add_wine_test(NAME list_win98 COMMAND list_tests --gtest_filter=LoadListTest.EveryFolderKind ARCH win32
                 WINVER win98)
