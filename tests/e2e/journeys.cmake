# Journeys: a whole run of the real updater in a fresh prefix, the robot
# answering its boxes, then the state of disk, registry and service checked
# by e2e_check (tests/e2e/journey.sh does the plumbing).
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

# vr_add_journey(NAME <name> [TIMEOUT s] [LABELS ...] [SCRIPT <script>]
#                ARGS <options>): the script (journey.sh unless given) gets
#                the test's name and the options
function(vr_add_journey)
  cmake_parse_arguments(J "" "NAME;TIMEOUT;SCRIPT" "ARGS;LABELS" ${ARGN})
  if(NOT J_TIMEOUT)
    set(J_TIMEOUT 180)
  endif()
  if(NOT J_SCRIPT)
    set(J_SCRIPT journey.sh)
  endif()
  # A journey through 32-bit Windows is the i686 flavour's alone.
  string(FIND "${J_ARGS}" "--arch;win32" on_win32)
  if(on_win32 GREATER -1 AND VR_FLAVOUR STREQUAL "x64")
    return()
  endif()
  add_test(NAME ${VR_TEST_PREFIX}${J_NAME}
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/${J_SCRIPT} ${VR_TEST_PREFIX}${J_NAME} ${J_ARGS})
  vr_test_properties(${J_NAME}
    TIMEOUT ${J_TIMEOUT}
    LABELS e2e ${J_LABELS}
    ENVIRONMENT "VR_WINE_TEMPLATES=${VR_WINE_TEMPLATES};VR_ARTIFACTS=${VR_ARTIFACTS};VR_BIN=${CMAKE_BINARY_DIR}/bin;VR_UPLIST=${VR_JOURNEY_LIST_DIR}/UPLIST.INI;VR_PAYLOAD_SRC=${VR_JOURNEY_SRC}")
  if("slow" IN_LIST J_LABELS)
    # Started first, so that the rest runs beside it.
    set_tests_properties(${VR_TEST_PREFIX}${J_NAME} PROPERTIES COST 1000)
  endif()
endfunction()

# Not installed: Start says so and nothing else happens; a resume run finds
# nothing to update.
vr_add_journey(NAME journey_not_installed ARGS
  --robot "--start --expect 110 --close-when-idle 1500 --timeout 60"
  --no-step "service:" --no-step "update:")
vr_add_journey(NAME journey_not_installed_resume ARGS
  --robot "--resume --expect 105 --close-when-idle 1500 --timeout 60"
  --step "update: begin (resume run)" --step "message 105=1")

# A full update of 10.2.9.0 with the launcher running, the service present
# and a resume entry left from before; the restart question answered No.
# Nothing may appear in the user's temporary folder meanwhile, not even for
# a moment: the update list is read from the updater's own resource. The
# updater leaves no key of its own behind.
set(VR_JOURNEY_FULL_UPDATE --watch-temp
  --install "10.2.9.0 --launcher --run-value"
  --robot "--start --expect 107 --answer 107=No --timeout 150"
  --check "updated key=10,3,0,0:6748072 uninstall=updated run=absent service=present updater-key=absent"
  --step "launcher: 0=1" --step "update: unregistration pass" --step "update: install pass"
  --step "update: registration pass" --step "uninstall entry: updated"
  --step "restart question: no=1" --no-step "restart requested" --no-step "message 105")
vr_add_journey(NAME journey_full_update_win7_64 ARGS --arch win64 --winver win7
  ${VR_JOURNEY_FULL_UPDATE})
vr_add_journey(NAME journey_full_update_xp_32 ARGS --arch win32 --winver winxp
  ${VR_JOURNEY_FULL_UPDATE})

# 10.3.0.0 already installed: the re-update question. No leaves everything
# as it was and gives the service back; Yes updates again.
vr_add_journey(NAME journey_reupdate_declined ARGS --install "10.3.0.0"
  --robot "--start --expect 102 --answer 102=No --close-when-idle 1500 --timeout 120"
  --check "same key=10,3,0,0:6748072 uninstall=10.30.000 service=present"
  --step "service: install" --no-step "install pass" --no-step "restart question"
  --no-step "message 105")
vr_add_journey(NAME journey_reupdate_accepted ARGS --install "10.3.0.0"
  --robot "--start --expect 102,107 --answer 102=Yes --answer 107=No --timeout 150"
  --check "updated key=10,3,0,0:6748072 uninstall=updated service=present"
  --step "update: install pass" --step "restart question: no=1")

# A file of the update held open by a running program: nothing is replaced.
# Start refuses with 145; a resume run asks 106 (Cancel) and then says 105.
vr_add_journey(NAME journey_file_in_use ARGS --install "10.2.9.0" --hold Glyphen.dll
  --robot "--start --expect 145 --close-when-idle 1500 --timeout 120"
  --check "same uninstall=10.29.000 service=present"
  --step "start: files in use" --no-step "update: begin")
vr_add_journey(NAME journey_file_in_use_resume ARGS --install "10.2.9.0" --hold Glyphen.dll
  --robot "--resume --expect 106,105 --answer 106=Cancel --close-when-idle 1500 --timeout 120"
  --check "same uninstall=10.29.000 service=present"
  --step "update: checks failed" --no-step "install pass" --no-step "restart question")

# An earlier update that did not finish (its marks left under the updater's
# key) over 10.3.0.0, its service removed: the service comes back as soon as
# the updater starts, and Start finishes the update without asking whether
# to update again (102), from the update procedure as from the in-use branch.
set(VR_MARK_UNFINISHED "\"\$VR_WINE\" reg add 'HKLM\\SOFTWARE\\Marrowick\\VrUpdater1030' /v UpdateUnfinished /t REG_DWORD /d 1 /f >/dev/null")
vr_add_journey(NAME journey_unfinished_update_completes ARGS --install "10.3.0.0"
  --also "${VR_MARK_UNFINISHED} && \"\$VR_WINE\" reg add 'HKLM\\SOFTWARE\\Marrowick\\VrUpdater1030' /v ServiceRemoved /t REG_DWORD /d 1 /f >/dev/null && \"\$VR_WINE\" sc delete qfsvcg >/dev/null"
  --robot "--start --expect 107 --answer 107=No --timeout 150"
  --check "updated key=10,3,0,0:6748072 uninstall=updated service=present updater-key=absent"
  --step "start: service of an ended run installed again (installer started)=1"
  --step "update: an earlier update did not finish" --step "update: finished")
vr_add_journey(NAME journey_unfinished_update_files_in_use ARGS --install "10.3.0.0"
  --hold Glyphen.dll --also "${VR_MARK_UNFINISHED}"
  --robot "--start --expect 145 --close-when-idle 1500 --timeout 120"
  --check "same service=present updater-key=present"
  --step "start: files in use" --no-step "update: begin")

# A resume run (the Run value's "/r"): no Start, no unregistration pass, the
# registration pass runs, and 10.3.0.0 is updated again without the question.
vr_add_journey(NAME journey_resume_run ARGS --install "10.3.0.0 --run-value"
  --robot "--resume --expect 107 --answer 107=No --timeout 150"
  --check "updated key=10,3,0,0:6748072 uninstall=updated run=absent service=present"
  --step "update: begin (resume run)" --no-step "unregistration pass"
  --step "update: registration pass" --step "update: install pass" --no-step "start")

# Versions the update refuses; nothing is replaced and the service comes back.
# A listed version of the wrong length is announced by the group check (105)
# and again by the update procedure (105); an unlisted older version only by
# the update procedure; a newer version by the group check (104), then 105.
set(VR_JOURNEY_REFUSED --check "same service=present"
  --step "update: checks failed" --step "service: install" --no-step "install pass"
  --no-step "restart question")
vr_add_journey(NAME journey_wrong_length ARGS --install "10.2.9.0 --wrong-length"
  --robot "--start --expect 105,105 --close-when-idle 1500 --timeout 120"
  ${VR_JOURNEY_REFUSED})
vr_add_journey(NAME journey_unlisted_older ARGS --install "9.5.0.0"
  --robot "--start --expect 105 --close-when-idle 1500 --timeout 120"
  ${VR_JOURNEY_REFUSED})
vr_add_journey(NAME journey_newer_installed ARGS --install "10.4.0.0"
  --robot "--start --expect 104,105 --close-when-idle 1500 --timeout 120"
  ${VR_JOURNEY_REFUSED})

# A launcher that ignores WM_CLOSE. Run from the program folder its own
# program file is in use, so Start refuses with 145 before anything happens.
vr_add_journey(NAME journey_launcher_stays ARGS --install "10.2.9.0 --launcher=--ignore-close"
  --robot "--start --expect 145 --close-when-idle 2000 --timeout 150"
  --check "same uninstall=10.29.000 service=present"
  --step "launcher: -1=1" --step "start: files in use" --step "service: install"
  --no-step "update: begin")
# The same window from a copy of the launcher outside the update: asked three
# times (the Start handler's answer is ignored, the update procedure's second
# one stops the install pass), no box at all ("--expect ," is the empty
# list), nothing replaced, the registration pass runs after the
# unregistration pass, service back.
vr_add_journey(NAME journey_launcher_stays_elsewhere ARGS --install "10.2.9.0"
  --also "mkdir -p \"\$WINEPREFIX/drive_c/elsewhere\" && cp \"\$VR_BIN/VrOstrel.exe\" \"\$WINEPREFIX/drive_c/elsewhere/\" && { setsid \"\$VR_WINE\" 'C:\\elsewhere\\VrOstrel.exe' --ignore-close </dev/null >/dev/null 2>&1 & } && sleep 1"
  --robot "--start --expect , --close-when-idle 2000 --timeout 150"
  --check "same uninstall=10.29.000 service=present"
  --step "launcher: -1=3" --step "update: launcher still open"
  --step "update: unregistration pass" --step "update: registration pass"
  --step "service: install" --no-step "install pass" --no-step "restart question")

# No service to remove and a service installer that takes two seconds before
# it acts: the installer is one of the update's files, so Start waits for it
# to end instead of finding its program in use (145) in the scan after the
# removal.
vr_add_journey(NAME journey_slow_service_installer ARGS
  --install "10.2.9.0 --no-service --servinst-delay 2000"
  --robot "--start --expect 107 --answer 107=No --timeout 150"
  --check "updated uninstall=updated service=present updater-key=absent"
  --step "start: nothing in the way" --no-step "start: in use")

# Less than 100,000,000 bytes free on the program folder's drive: 122 and
# nothing else; the service was never touched.
vr_add_journey(NAME journey_disk_full ARGS --small-drive E=40
  --install "10.2.9.0 --program-folder 'E:\\Vorrel'"
  --robot "--start --expect 122 --close-when-idle 1500 --timeout 90"
  --check "same service=present" --no-step "service:" --no-step "update:")

# The program folder on a drive that cannot be written (installed there,
# then remounted read-only): 108 and nothing else; nothing is replaced and
# the service comes back. The drive has room enough for Start's free-space
# check.
vr_add_journey(NAME journey_read_only_drive ARGS --small-drive E=200 --read-only-drive
  --install "10.2.9.0 --program-folder 'E:\\Vorrel'"
  --robot "--start --expect 108 --close-when-idle 1500 --timeout 120"
  --check "same service=present"
  --step "start: checks refused the update" --no-step "start: files in use"
  --no-step "update: begin")

# Restart answered Yes, in this test's own prefix: requested once; Start and
# Close stay disabled until Wine ends the updater.
vr_add_journey(NAME journey_restart_accepted ARGS --install "10.2.9.0"
  --robot "--start --expect 107 --answer 107=Yes --timeout 150"
  --check "updated uninstall=updated service=present"
  --step "restart question: yes=1" --step "restart requested=1"
  --last-buttons "start=0 close=0")

# A service that never goes away: after each 62 s wait 106 (Retry/Cancel);
# Cancel lets the update go on, once in the Start handler and once in the
# update procedure. Slow by nature.
vr_add_journey(NAME journey_service_stays TIMEOUT 400 LABELS slow
  ARGS --install "10.2.9.0 --servinst-refuse"
  --robot "--start --expect 106,106,107 --answer 106=Cancel --answer 107=No --timeout 360"
  --check "updated uninstall=updated service=present"
  --step "update: install pass" --step "restart question: no=1")

# Libraries planted in the download folder the updater runs from (its own
# folder and current directory) under the names of libraries it binds, the
# product's, and those the common controls and the system pull in: a full
# update loads none of them. Wine prefers its built-in copy of most of these
# names (the probe then finds only the product's names there). The
# native-first run makes Wine look in the download folder first, as Windows
# does for a library that is not a Known DLL; the probe must then find every
# planted copy. version.dll is left out of that run: Wine's own user32
# imports it while the process starts, before any code of the updater runs.
set(VR_PLANTED_NAMES LZ32.DLL comctl32.dll uxtheme.dll dwmapi.dll cryptbase.dll winmm.dll
  msimg32.dll QfControl.dll QfControl_res.dll SoundFx.dll)
string(JOIN " " VR_PLANTED ${VR_PLANTED_NAMES})
set(VR_JOURNEY_PLANTED --install "10.2.9.0"
  --robot "--start --expect 107 --answer 107=No --timeout 150"
  --check "updated key=10,3,0,0:6748072 uninstall=updated service=present"
  --step "update: install pass" --step "restart question: no=1")
vr_add_journey(NAME journey_dll_planting ARGS ${VR_JOURNEY_PLANTED}
  --planted "version.dll ${VR_PLANTED}")
vr_add_journey(NAME journey_dll_planting_native_first ARGS ${VR_JOURNEY_PLANTED}
  --planted "${VR_PLANTED}" --native-first)
# The updater interrupted at ten points of a full update of 10.2.9.0, most of
# them named points where the killable updater ends itself (the replacement's
# windows, the half-written Uninstall entry, the service installer just
# started, the registration pass), two by SIGKILL at a time: no file of the
# list may be left partial or missing, and the next run, answering No to
# every question, must leave the update complete with no temporary, record or
# mark behind. Two halves, side by side; the long campaign is
# "tests/e2e/kill-campaign.sh --build build-x64 --points 66 --jobs 2".
foreach(half 1 2)
  vr_add_journey(NAME journey_kill_campaign_${half}of2 SCRIPT kill-campaign.sh
    TIMEOUT 600 LABELS slow ARGS --part ${half}/2)
endforeach()

# A variant updater whose store entry 0005.BIN has one flipped bit: the
# expanded copy does not carry the list's SHA-256, so that file stays old and
# counts as failed (the Uninstall entry keeps the old version); everything
# else is updated and nothing is left partial or behind.
vr_add_journey(NAME journey_corrupt_payload_entry ARGS --install "10.2.9.0"
  --corrupt-entry 0005.BIN
  --robot "--start --expect 107 --answer 107=No --timeout 150"
  --check "old-or-new temporaries=none uninstall=10.29.000 service=present"
  --step "update: 50 replaced, 1 failed" --step "update: 1 files failed, uninstall entry kept")

# The program folder's volume fills up during the install pass (another
# program writes it full): the files that no longer fit fail, every file is
# whole (old or new), no temporary is left, the service comes back.
vr_add_journey(NAME journey_disk_fills_during_install ARGS --small-drive E=120
  --install "10.2.9.0 --program-folder 'E:\\Vorrel'"
  --fill-drive "update: install pass+1500"
  --robot "--start --expect 107 --answer 107=No --timeout 150"
  --check "old-or-new temporaries=none uninstall=10.29.000 service=present"
  --step "update: install pass")
