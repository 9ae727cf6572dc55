# The update's own list and store over the simulated product of 10.2.9.0, as
# install-product.sh lays it out with that list: the resolved targets, and
# the unregister, install and register passes, and the settlement of a killed
# run's records, on 64-bit Windows 7 and on 32-bit Windows XP.
if(TARGET payload_store_1030)
  vr_add_gtest(integration_tests SOURCES integration_list_tests.cpp integration_pass_tests.cpp
    integration_leftovers_tests.cpp ${VR_TESTS_DIR}/support/IntegrationSupport.cpp
    ${CMAKE_SOURCE_DIR}/testbed/common/ExpectedLayout.cpp)
  add_dependencies(integration_tests payload_store_1030 VrInstallProduct)
  set(integration_dir $<TARGET_PROPERTY:payload_store_1030,VR_PAYLOAD_DIR>)
  set(integration_args
    --store=Z:$<TARGET_FILE:payload_store_1030>
    --payload-dir=Z:${integration_dir}
    --sources=Z:$<TARGET_PROPERTY:payload_store_1030,VR_PAYLOAD_SOURCE_DIR>)
  set(integration_setup
    "${CMAKE_SOURCE_DIR}/scripts/install-product.sh \"$WINEPREFIX\" 10.2.9.0 --keep-server --bin ${CMAKE_BINARY_DIR}/bin --uplist-file ${integration_dir}/UPLIST.INI")
  vr_add_wine_test(NAME integration_win7_64 COMMAND integration_tests ${integration_args}
    WINVER win7 SETUP "${integration_setup}" TIMEOUT 120)
  vr_add_wine_test(NAME integration_xp_32 COMMAND integration_tests ${integration_args}
    ARCH win32 WINVER winxp SETUP "${integration_setup}" TIMEOUT 120)
endif()
