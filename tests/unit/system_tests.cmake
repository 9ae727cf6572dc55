# System integration (launcher window, service installer, Uninstall entry)
# against the testbed's launcher and service installer, and the update driver
# on the real main dialog.
vr_add_gtest(system_tests SOURCES system_launcher_tests.cpp system_service_tests.cpp
  system_uninstall_tests.cpp LIBS advapi32)
add_dependencies(system_tests VrLauncher Servinst QfSvcGen)
vr_add_wine_test(NAME system COMMAND system_tests DISPLAY)
vr_add_wine_test(NAME system_win98 COMMAND system_tests --gtest_filter=*NinetyEight*
  ARCH win32 WINVER win98 DISPLAY)

vr_add_gtest(driver_tests SOURCES driver_tests.cpp
  LIBS comctl32)
add_dependencies(driver_tests VrUpdater1030)
vr_add_wine_test(NAME driver COMMAND driver_tests --gtest_filter=-DriverRealRestart.* DISPLAY)
# A real restart request, in a prefix of its own.
vr_add_wine_test(NAME driver_restart COMMAND driver_tests --gtest_filter=DriverRealRestart.*
  DISPLAY)
vr_test_properties(driver_restart
  PASS_REGULAR_EXPRESSION "restart accepted, buttons disabled" FAIL_REGULAR_EXPRESSION "Failure")
