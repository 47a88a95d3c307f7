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
function(oku_window_scenario filter)
  cmake_parse_arguments(S "DRIVES" "TIMEOUT" "" ${ARGN})
  if(NOT S_TIMEOUT)
    set(S_TIMEOUT 300)
  endif()
  string(REPLACE "." "_" name "${filter}")
  set(command ${CMAKE_SOURCE_DIR}/tests/harness/fresh-prefix.sh window_${name}
    ${OKU_WINDOW_TEST_DIR}/window-scenario.sh)
  set(skip_output "")
  if(S_DRIVES)
    list(APPEND command --drives)
    # A scenario that leaves out its drive part says so; it shows as skipped.
    set(skip_output SKIP_OUTPUT "drives R: and S: are not mapped")
  endif()
  list(APPEND command ${CMAKE_BINARY_DIR}/wine-run.sh $<TARGET_FILE:window_scenarios> --gtest_color=no
    --gtest_filter=${filter})
  oku_add_script_test(window_${name} COMMAND ${command} TIMEOUT ${S_TIMEOUT} ${skip_output}
    ENV OKU_WINE_TIMEOUT=${S_TIMEOUT} OKU_ARTIFACT_DIR=${CMAKE_BINARY_DIR}/artifacts/window)
  # Real mouse and keyboard input and screen captures: one scenario on the shared display at a time.
  set_tests_properties(window_${name} PROPERTIES SKIP_RETURN_CODE 77 RESOURCE_LOCK x-display-input)
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
