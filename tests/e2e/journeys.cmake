# Journeys: a whole run of the real updater in a fresh prefix, the robot
# answering its boxes, then the state of disk, registry and service checked
# by e2e_check. The journeys are one table, tests/e2e/journeys.py, which also
# runs them; here they only become tests. Reading the table checks every step,
# message id and checker field it names against their declarations, so a
# changed text fails the configuration.
add_executable(e2e_check journeys_check.cpp ${CMAKE_SOURCE_DIR}/testbed/common/ExpectedLayout.cpp)
vr_warnings(e2e_check)
target_include_directories(e2e_check PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(e2e_check PRIVATE version advapi32)
add_executable(e2e_holder journeys_holder.cpp)
vr_warnings(e2e_holder)
target_include_directories(e2e_holder PRIVATE ${CMAKE_SOURCE_DIR})

get_target_property(VR_JOURNEY_SRC VrUpdater1030 VR_PAYLOAD_SOURCE_DIR)
get_target_property(VR_JOURNEY_LIST_DIR VrUpdater1030 VR_PAYLOAD_DIR)
add_custom_target(journeys ALL DEPENDS VrUpdater1030 VrUpdater1030Killable vrrobot e2e_check
  e2e_holder VrInstallProduct Planted PlantedProbe)

set(VR_JOURNEYS_PY ${CMAKE_CURRENT_SOURCE_DIR}/journeys.py)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VR_JOURNEYS_PY}
  ${CMAKE_CURRENT_SOURCE_DIR}/killcampaign.py ${CMAKE_SOURCE_DIR}/win32/TraceSteps.h
  ${CMAKE_CURRENT_SOURCE_DIR}/CheckRecord.h ${CMAKE_SOURCE_DIR}/res/resource.h)
execute_process(COMMAND python3 ${VR_JOURNEYS_PY} list ${VR_FLAVOUR}
  OUTPUT_VARIABLE journeys RESULT_VARIABLE failed ERROR_VARIABLE why)
if(failed)
  message(FATAL_ERROR "tests/e2e/journeys.py: ${why}")
endif()
string(STRIP "${journeys}" journeys)
string(REPLACE "\n" ";" journeys "${journeys}")
foreach(journey IN LISTS journeys)
  # NAME|TIMEOUT|LABEL;LABEL
  string(REPLACE "|" ";" fields "${journey}")
  list(POP_FRONT fields name timeout)
  add_test(NAME ${VR_TEST_PREFIX}${name}
    COMMAND python3 ${VR_JOURNEYS_PY} run ${name} --test-name ${VR_TEST_PREFIX}${name})
  vr_test_properties(${name} TIMEOUT ${timeout} LABELS e2e ${fields}
    ENVIRONMENT "VR_FLAVOUR=${VR_FLAVOUR};VR_WINE_TEMPLATES=${VR_WINE_TEMPLATES};VR_ARTIFACTS=${VR_ARTIFACTS};VR_BIN=${CMAKE_BINARY_DIR}/bin;VR_UPLIST=${VR_JOURNEY_LIST_DIR}/UPLIST.INI;VR_PAYLOAD_SRC=${VR_JOURNEY_SRC}")
  if("slow" IN_LIST fields)
    # Started first, so that the rest runs beside it.
    set_tests_properties(${VR_TEST_PREFIX}${name} PROPERTIES COST 1000)
  endif()
endforeach()
