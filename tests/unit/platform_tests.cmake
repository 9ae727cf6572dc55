# Platform probe tests: the classification as a pure function, then on Wine
# itself under the Windows versions the update distinguishes. Each
# "platform_os_*" run is told the code and class it must see.
vr_add_gtest(platform_tests SOURCES platform_classify_tests.cpp platform_probe_tests.cpp)
add_dependencies(platform_tests replace_holder)
vr_add_wine_test(NAME platform COMMAND platform_tests)
vr_add_wine_test(NAME platform_win32 COMMAND platform_tests
                 --gtest_filter=Wow64FsGuard.*:FileProbes.* ARCH win32)
foreach(run
    "win98;win32;3;1" "nt40;win32;7;0" "winxp;win32;13;2" "winxp64;win64;19;3" "win2003;win32;17;2"
    "vista;win32;20;4" "vista;win64;21;5" "win7;win64;21;5" "win10;win64;21;5")
  list(GET run 0 winver)
  list(GET run 1 arch)
  list(GET run 2 code)
  list(GET run 3 class)
  vr_add_wine_test(NAME platform_os_${winver}_${arch} COMMAND platform_tests
                   --gtest_filter=RunningWindows.* --expect-os=${code}:${class}
                   ARCH ${arch} WINVER ${winver})
endforeach()
