# Faults end to end: the real OkuSetup.exe /S killed, fed damaged packages, given overlong paths;
# the uninstaller against locked, read-only and linked files. Each case from a clean prefix.
oku_add_script_test(faults_kill_points
  COMMAND ${OKU_TEST_GROUP_DIR}/kill-points.sh 20
  TIMEOUT 1500 ENV OKU_WINE_TIMEOUT=240)
# Killed around the start of the product installer, which goes on running: the next run must get
# past the leftover that holds mini_installer.exe in the installation directory.
oku_add_script_test(faults_kill_orphans
  COMMAND ${OKU_TEST_GROUP_DIR}/kill-points.sh orphans
  TIMEOUT 900 ENV OKU_WINE_TIMEOUT=240)

# Damaged packages: a payload resource missing, one replaced by damaged bytes (a layout cut off
# in the middle of a tag, an analytics library that is no DLL, a product installer cut short).
set(fault_dir ${CMAKE_CURRENT_BINARY_DIR}/faults_payload)
file(READ ${CMAKE_SOURCE_DIR}/resources/main.xml fault_layout)
string(LENGTH "${fault_layout}" fault_length)
math(EXPR fault_half "${fault_length} / 2")
string(SUBSTRING "${fault_layout}" 0 ${fault_half} fault_layout)
file(WRITE ${fault_dir}/main.xml "${fault_layout}<Button name=\"unterminated")
file(WRITE ${fault_dir}/lantern_sdk.dll "not a library\n")
file(WRITE ${fault_dir}/damaged_main_xml.rc "${OKU_PAYLOAD_ID_main.xml} RCDATA \"${fault_dir}/main.xml\"\n")
file(WRITE ${fault_dir}/damaged_lantern.rc "${OKU_PAYLOAD_ID_lantern_sdk.dll} RCDATA \"${fault_dir}/lantern_sdk.dll\"\n")
oku_installer_variant(OkuSetup_fault_no_mini_installer OUTPUT_NAME OkuSetup_fault_no_mini_installer.exe OMIT ${OKU_PAYLOAD_ID_mini_installer.exe})
oku_installer_variant(OkuSetup_fault_no_tessel OUTPUT_NAME OkuSetup_fault_no_tessel.exe OMIT ${OKU_PAYLOAD_ID_tessel.dll})
oku_installer_variant(OkuSetup_fault_damaged_main_xml OUTPUT_NAME OkuSetup_fault_damaged_main_xml.exe
  OMIT ${OKU_PAYLOAD_ID_main.xml} EXTRA_RC ${fault_dir}/damaged_main_xml.rc)
oku_installer_variant(OkuSetup_fault_damaged_lantern OUTPUT_NAME OkuSetup_fault_damaged_lantern.exe
  OMIT ${OKU_PAYLOAD_ID_lantern_sdk.dll} EXTRA_RC ${fault_dir}/damaged_lantern.rc)
add_custom_target(fault_variants DEPENDS OkuSetup_fault_no_mini_installer OkuSetup_fault_no_tessel
  OkuSetup_fault_damaged_main_xml OkuSetup_fault_damaged_lantern)

# Damaged packages and installation directories of 100 to 400 characters: the real installer
# started from a Downloads folder, each case in a fresh prefix.
add_executable(faults_scenarios ${OKU_TEST_GROUP_DIR}/faults_test.cpp)
target_link_libraries(faults_scenarios PRIVATE gtest_main oku_warnings oku_e2e_support)
target_link_options(faults_scenarios PRIVATE -mconsole)
add_dependencies(faults_scenarios OkuSetup fault_variants)
foreach(case no_mini_installer no_tessel damaged_lantern damaged_main_xml cut)
  oku_add_scenario(faults_damaged_${case} PROGRAM faults_scenarios
    FILTER Cases/DamagedPackage.EndsWithItsCode/${case} TIMEOUT 300)
endforeach()
foreach(length 100 180 200 220 240 250 259 260 261 300 400)
  oku_add_scenario(faults_long_path_${length} PROGRAM faults_scenarios
    FILTER Lengths/LongPath.InstallsOrFailsCleanly/chars_${length} TIMEOUT 300)
endforeach()
oku_check_scenarios_cover(faults_scenarios SOURCES ${OKU_TEST_GROUP_DIR}/faults_test.cpp)

# The installed uninstaller against read-only files, a link to a folder outside the installation
# and a file held open by another process.
oku_add_script_test(faults_uninstall_obstacles
  COMMAND ${OKU_TEST_GROUP_DIR}/uninstall-obstacles.sh
  TIMEOUT 900 ENV OKU_WINE_TIMEOUT=200)

# A full volume while the payload is extracted (the working directory in each place it can take)
# and while the installation directory is written; tmpfs mounts need root, else the test skips.
oku_add_script_test(faults_disk_full
  COMMAND ${OKU_TEST_GROUP_DIR}/disk-full.sh
  TIMEOUT 900 ENV OKU_WINE_TIMEOUT=240)
set_tests_properties(faults_disk_full PROPERTIES SKIP_RETURN_CODE 77)
