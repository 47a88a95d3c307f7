# The installer's window end to end under Xvfb: the real OkuSetup.exe operated with real mouse
# and keyboard input by a cross-built driver, one fresh Wine prefix per scenario, screenshots
# kept in artifacts/window/.
oku_installer_variant(OkuSetup_window_old OUTPUT_NAME OkuSetup_window_old.exe MINI_INSTALLER mini_installer_old)

add_executable(window_scenarios
  ${OKU_TEST_GROUP_DIR}/window_driver.cpp
  ${OKU_TEST_GROUP_DIR}/window_test.cpp)
target_link_libraries(window_scenarios PRIVATE gtest_main oku_warnings oku_test_support common
  shell32 ole32 windowscodecs comctl32 gdi32 user32 advapi32)
target_link_options(window_scenarios PRIVATE -mconsole)
add_dependencies(window_scenarios OkuSetup OkuSetup_window_old oku_compass_new)

set(OKU_WINDOW_TEST_DIR ${OKU_TEST_GROUP_DIR})
# oku_window_scenario(<gtest filter> [DRIVES] [TIMEOUT s]): one scenario in one fresh prefix.
# Real mouse and keyboard input and screen captures: label "input" runs them after the other
# tests, one scenario on the shared display at a time.
function(oku_window_scenario filter)
  cmake_parse_arguments(S "DRIVES" "TIMEOUT" "" ${ARGN})
  string(REPLACE "." "_" name "${filter}")
  set(wrapper WRAPPER ${OKU_WINDOW_TEST_DIR}/window-scenario.sh)
  set(skip_output "")
  if(S_DRIVES)
    list(APPEND wrapper --drives)
    # A scenario that leaves out its drive part says so; it shows as skipped.
    set(skip_output SKIP_OUTPUT "drives R: and S: are not mapped")
  endif()
  set(timeout "")
  if(S_TIMEOUT)
    set(timeout TIMEOUT ${S_TIMEOUT})
  endif()
  oku_add_scenario(window_${name} PROGRAM window_scenarios FILTER ${filter} ${wrapper} ${timeout}
    ${skip_output} ENV OKU_ARTIFACT_DIR=${CMAKE_BINARY_DIR}/artifacts/window
    LABELS input LOCKS x-display-input)
endfunction()

oku_window_scenario(WindowInstall.OptionsViewInstallProgressAndCompletion)
oku_window_scenario(WindowInstall.CloseDuringProgressWaitsForTheInstallation)
oku_window_scenario(WindowOptions.CheckBoxTitleBandAndCancelledPicker)
oku_window_scenario(WindowOptions.FolderPickerAndUnusableFolders DRIVES)
oku_window_scenario(WindowChecks.RunningProductAnsweredNoThenYes)
oku_window_scenario(WindowChecks.DowngradeIsRefused)
oku_window_scenario(WindowChecks.EarlierInstallationElsewhereIsRemoved)
oku_window_scenario(WindowUpdate.UpdateModeReinstallsWithoutOptions)
oku_window_scenario(WindowInstance.SecondInstallerBringsTheWindowBack)
oku_window_scenario(WindowHighDpi.LaidOutFor144Dpi)
oku_window_scenario(WindowFailure.FailingProductInstallerShowsItsCodeAndEndsWithIt)
oku_window_scenario(WindowFailure.FailureBeforeTheProductInstallerShowsItsCode)
oku_window_scenario(WindowFailure.ClearedAutoStartBoxLeavesNoRunValue)
oku_window_scenario(WindowFailure.AdministratorModeOutcomeIsJudged DRIVES)

oku_check_scenarios_cover(window_scenarios SOURCES ${OKU_TEST_GROUP_DIR}/window_test.cpp)
