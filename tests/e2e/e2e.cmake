# End-to-end scenarios: the built OkuSetup.exe and OkuUninstall.exe driven as a release engineer
# would, each scenario in a fresh copy of the Wine prefix (a clean machine).
oku_installer_variant(OkuSetup_old OUTPUT_NAME OkuSetup_old.exe MINI_INSTALLER mini_installer_old)
oku_installer_variant(OkuSetup_no_analytics OUTPUT_NAME OkuSetup_no_analytics.exe OMIT ${OKU_PAYLOAD_ID_lantern_sdk.dll})

# What the scenario programs share (e2e, containment, faults): running the built programs,
# records, files, outbox and logs; the versions they expect are the build's.
if(NOT TARGET oku_e2e_support)
  add_library(oku_e2e_support STATIC ${OKU_TEST_GROUP_DIR}/e2e_support.cpp)
  target_link_libraries(oku_e2e_support PUBLIC oku_test_support shell32 advapi32 PRIVATE oku_warnings)
  target_compile_definitions(oku_e2e_support PRIVATE
    OKU_PRODUCT_VERSION_OLD=L"${OKU_PRODUCT_VERSION_OLD}"
    OKU_PRODUCT_VERSION_NEW=L"${OKU_PRODUCT_VERSION_NEW}"
    OKU_SETUP_VERSION=L"${OKU_SETUP_VERSION}")
endif()

add_executable(e2e_scenarios
  ${OKU_TEST_GROUP_DIR}/silent_test.cpp
  ${OKU_TEST_GROUP_DIR}/uninstall_test.cpp)
target_link_libraries(e2e_scenarios PRIVATE gtest_main oku_warnings oku_e2e_support)
target_link_options(e2e_scenarios PRIVATE -mconsole)
add_dependencies(e2e_scenarios OkuSetup OkuUninstall OkuSetup_old OkuSetup_no_analytics oku_compass_new)

set(OKU_E2E_DIR ${OKU_TEST_GROUP_DIR})
# oku_e2e_scenario(<gtest filter> [DRIVES] [TIMEOUT s]): one scenario, one fresh prefix.
function(oku_e2e_scenario filter)
  cmake_parse_arguments(S "DRIVES" "TIMEOUT" "" ${ARGN})
  string(REPLACE "." "_" name "${filter}")
  set(wrapper "")
  if(S_DRIVES)
    set(wrapper WRAPPER ${OKU_E2E_DIR}/e2e-drives.sh ${CMAKE_BINARY_DIR}/bin/OkuSetup.exe)
  endif()
  set(timeout "")
  if(S_TIMEOUT)
    set(timeout TIMEOUT ${S_TIMEOUT})
  endif()
  oku_add_scenario(e2e_${name} PROGRAM e2e_scenarios FILTER ${filter} ${wrapper} ${timeout})
endfunction()

oku_e2e_scenario(Silent.FreshInstallToTheDefaultDirectory)
oku_e2e_scenario(Silent.TargetPathForms TIMEOUT 600)
oku_e2e_scenario(Silent.ReinstallKeepsTheRecordedDirectory)
oku_e2e_scenario(Silent.UpgradeFromTheOlderVersion)
oku_e2e_scenario(Silent.KillEndsARunningProduct)
oku_e2e_scenario(Silent.FailingProductInstallerRollsBackInstallerName TIMEOUT 420)
oku_e2e_scenario(Silent.FailedNewInstallationLeavesNoRecordsAndTheNextHonoursTheTarget TIMEOUT 420)
oku_e2e_scenario(Silent.AutoStartFollowsTheRequest TIMEOUT 420)
oku_e2e_scenario(Silent.RefusedWhileAWindowInstallerRuns)
oku_e2e_scenario(Silent.DamagedPayloadEndsWith1392)
oku_e2e_scenario(SilentDrives.* DRIVES TIMEOUT 420)
oku_e2e_scenario(Uninstall.NoArgumentsRemovesEverything)
oku_e2e_scenario(Uninstall.OptionsReachTheEngine)
oku_e2e_scenario(Uninstall.ForceEndsTheRunningProduct)
oku_e2e_scenario(Uninstall.LockedFileKeepsTheDirectoryAndIsListed)
oku_e2e_scenario(Uninstall.WithoutRecordedVersionLeavesTheProduct)

oku_check_scenarios_cover(e2e_scenarios
  SOURCES ${OKU_TEST_GROUP_DIR}/silent_test.cpp ${OKU_TEST_GROUP_DIR}/uninstall_test.cpp)
