# Containment end to end: installing, updating and uninstalling touch what the product owns and
# nothing else (canaries around the installation, a held product file, a running installer's
# working directory). Each scenario in a fresh copy of the Wine prefix.
add_executable(containment_scenarios
  ${OKU_TEST_GROUP_DIR}/containment_test.cpp
  ${OKU_TEST_GROUP_DIR}/busy_test.cpp)
target_link_libraries(containment_scenarios PRIVATE gtest_main oku_warnings oku_removal_test_util oku_e2e_support)
target_link_options(containment_scenarios PRIVATE -mconsole)
add_dependencies(containment_scenarios OkuSetup OkuUninstall lockfile product_stage_new)

set(folder_name Cases/FolderName.InstallAndUninstallStayInside)
set(containment_cases
  name_percent_username|${folder_name}/percent_username|300
  name_percent_temp|${folder_name}/percent_temp|300
  name_bang_username|${folder_name}/bang_username|300
  name_ampersand|${folder_name}/ampersand|300
  name_caret|${folder_name}/caret|300
  name_blanks_parentheses|${folder_name}/blanks_parentheses|300
  name_semicolon|${folder_name}/semicolon|300
  name_comma_equals|${folder_name}/comma_equals|300
  name_apostrophe|${folder_name}/apostrophe|300
  name_cjk|${folder_name}/cjk|300
  name_longest_path|${folder_name}/longest_path|300
  held_file|BusyInstallation.HeldFileStaysAloneUntilRestart|400
  running_installer|BusyInstallation.RunningInstallersWorkingDirectoryIsLeftAlone|400)
# The update packages need 7-Zip (see tests/delta/delta.cmake, which builds them).
if(EXISTS ${OKU_7ZA_EXE})
  add_dependencies(containment_scenarios OkuSetup_delta_base OkuSetup_update)
  set(update Cases/UpdatePackage.UpdateAndUninstallStayInside)
  list(APPEND containment_cases
    update_default_layout|${update}/default_layout|500
    update_custom_directory|${update}/custom_directory|500
    update_special_characters|${update}/special_characters|500)
endif()

# <test name suffix>|<gtest filter>|<timeout s>: one scenario, one fresh prefix.
foreach(entry ${containment_cases})
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 suffix)
  list(GET parts 1 filter)
  list(GET parts 2 timeout)
  oku_add_scenario(containment_${suffix} PROGRAM containment_scenarios FILTER ${filter} TIMEOUT ${timeout})
endforeach()
set(unlisted "")
if(NOT EXISTS ${OKU_7ZA_EXE})
  set(unlisted UNLISTED UpdatePackage.UpdateAndUninstallStayInside)
endif()
oku_check_scenarios_cover(containment_scenarios
  SOURCES ${OKU_TEST_GROUP_DIR}/containment_test.cpp ${OKU_TEST_GROUP_DIR}/busy_test.cpp ${unlisted})
