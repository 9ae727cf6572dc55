# The simulated installed product: its components on their own, and the
# product as install-product.sh installs it into a fresh prefix.
vr_add_gtest(testbed_tests SOURCES testbed_component_tests.cpp testbed_install_tests.cpp
  ${VR_TESTS_DIR}/support/TestbedSupport.cpp
  ${CMAKE_SOURCE_DIR}/testbed/common/ExpectedLayout.cpp LIBS advapi32 version)
add_dependencies(testbed_tests VrInstallProduct RegisterFilters SoundFx3 SoundFx5
  SoundFx_nogetnum)
vr_add_wine_test(NAME testbed_components
  COMMAND testbed_tests --gtest_filter=-InstalledProduct.*:LauncherWindow.* WINVER win7)
vr_add_wine_test(NAME testbed_launcher
  COMMAND testbed_tests --gtest_filter=LauncherWindow.* --display=1 DISPLAY)

# testbed_install_test(<name> ARCH <arch> VERSION <v> INSTALL_ARGS ... EXPECT ...)
function(testbed_install_test name)
  cmake_parse_arguments(I "" "ARCH;VERSION" "INSTALL_ARGS;EXPECT" ${ARGN})
  string(JOIN " " extra ${I_INSTALL_ARGS})
  vr_add_wine_test(NAME ${name}
    COMMAND testbed_tests --gtest_filter=InstalledProduct.* --expect-version=${I_VERSION}
            ${I_EXPECT}
    ARCH ${I_ARCH} WINVER win7
    SETUP "${CMAKE_SOURCE_DIR}/scripts/install-product.sh \"$WINEPREFIX\" ${I_VERSION} --keep-server --bin ${CMAKE_BINARY_DIR}/bin ${extra}")
endfunction()

foreach(arch win64 win32)
  testbed_install_test(testbed_install_10000_${arch} ARCH ${arch} VERSION 10.0.0.0
    EXPECT --expect-product-version=10,0,0,0 --expect-length=6711184 --expect-display=10.00.000)
  testbed_install_test(testbed_install_10290_${arch} ARCH ${arch} VERSION 10.2.9.0
    INSTALL_ARGS --run-value
    EXPECT --expect-product-version=10,2,9,0 --expect-length=6750544 --expect-display=10.29.000
           --expect-run-value=1)
  testbed_install_test(testbed_install_10300_${arch} ARCH ${arch} VERSION 10.3.0.0
    EXPECT --expect-product-version=10,3,0,0 --expect-length=6748072 --expect-display=10.30.000)
endforeach()
# Off the list: a newer version, an unlisted old one, a listed one of another length.
testbed_install_test(testbed_install_newer ARCH win64 VERSION 10.4.0.0
  EXPECT --expect-product-version=10,4,0,0 --expect-length=6720000 --expect-display=10.40.000)
testbed_install_test(testbed_install_unlisted ARCH win32 VERSION 9.5.0.0
  EXPECT --expect-product-version=9,5,0,0 --expect-length=6720000 --expect-display=9.50.000)
testbed_install_test(testbed_install_wrong_length ARCH win64 VERSION 10.2.9.0
  INSTALL_ARGS --wrong-length
  EXPECT --expect-product-version=10,2,9,0 --expect-length=6751056 --expect-display=10.29.000)

# With the update list of the real update: its files are installed as older copies.
if(TARGET VrUpdater1030)
  set(uplist $<TARGET_PROPERTY:VrUpdater1030,VR_PAYLOAD_DIR>/UPLIST.INI)
  testbed_install_test(testbed_install_with_list ARCH win64 VERSION 10.2.9.0
    INSTALL_ARGS --uplist-file ${uplist}
    EXPECT --expect-product-version=10,2,9,0 --expect-length=6750544 --expect-display=10.29.000
           --expect-uplist=Z:${uplist})
  add_dependencies(testbed_tests VrUpdater1030)
endif()
