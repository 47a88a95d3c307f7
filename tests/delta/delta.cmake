# Incremental installation end to end: the older demo product installed by a silent installer of an
# older setup version, then update packages (good and damaged ones) run with "/S", each scenario in
# a fresh copy of the Wine prefix.
if(NOT EXISTS ${OKU_7ZA_EXE})
  message(WARNING "7za.exe not found at ${OKU_7ZA_EXE}: no update packages, incremental installation "
    "tests skipped (scripts/bootstrap.sh installs it)")
  return()
endif()
set(OKU_DELTA_BASE_SETUP_VERSION 2.6.3.4790)
oku_installer_variant(OkuSetup_delta_base OUTPUT_NAME OkuSetup_delta_base.exe
  MINI_INSTALLER mini_installer_old VERSION ${OKU_DELTA_BASE_SETUP_VERSION})

set(delta_packages ${CMAKE_BINARY_DIR}/update-package)
set(good ${delta_packages}/OkuSetup_update)
oku_update_package(${good} OLD old NEW new)
oku_update_installer(OkuSetup_update OUTPUT_NAME OkuSetup_update.exe RESOURCES ${good})
oku_update_package(${delta_packages}/OkuSetup_delta_recursive OLD old NEW new NO_FILE_LIST)
oku_update_installer(OkuSetup_delta_recursive OUTPUT_NAME OkuSetup_delta_recursive.exe
  RESOURCES ${delta_packages}/OkuSetup_delta_recursive)

set(delta_installers OkuSetup_delta_base OkuSetup_update OkuSetup_delta_recursive)
foreach(fault corrupt_container corrupt_patch wrong_new_hash no_hashes upper_hashes list_forms
        unsafe_absolute unsafe_drive unsafe_parent)
  set(name OkuSetup_delta_${fault})
  set(dir ${delta_packages}/${name})
  set(outputs ${dir}/update_package.rc ${dir}/chrome_7z.patch ${dir}/setup.exe ${dir}/zucchini.exe
    ${dir}/7za.exe ${dir}/manifest.json)
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${OKU_TEST_GROUP_DIR}/make-faulty-package.sh ${good} ${fault} ${dir} ${OKU_UPDATE_PACKAGE_PREFIX}
    DEPENDS ${OKU_TEST_GROUP_DIR}/make-faulty-package.sh OkuSetup_update_resources
      ${good}/update_package.rc ${good}/chrome_7z.patch ${good}/manifest.json
    COMMENT "Damaged update package ${fault}"
    VERBATIM)
  add_custom_target(${name}_resources DEPENDS ${outputs})
  oku_update_installer(${name} OUTPUT_NAME ${name}.exe RESOURCES ${dir})
  list(APPEND delta_installers ${name})
endforeach()

add_executable(delta_scenarios ${OKU_TEST_GROUP_DIR}/delta_test.cpp)
target_link_libraries(delta_scenarios PRIVATE gtest_main oku_warnings oku_test_support shell32 advapi32)
target_link_options(delta_scenarios PRIVATE -mconsole)
target_compile_definitions(delta_scenarios PRIVATE
  OKU_PRODUCT_VERSION_OLD=L"${OKU_PRODUCT_VERSION_OLD}"
  OKU_PRODUCT_VERSION_NEW=L"${OKU_PRODUCT_VERSION_NEW}"
  OKU_SETUP_VERSION=L"${OKU_SETUP_VERSION}"
  OKU_DELTA_BASE_SETUP_VERSION=L"${OKU_DELTA_BASE_SETUP_VERSION}")
add_dependencies(delta_scenarios OkuSetup OkuUninstall product_stage_new ${delta_installers})

# One scenario per test, each in a fresh prefix: <test name suffix>|<gtest filter>.
set(failure Cases/DeltaFailure.EndsWithItsCodeAndKeepsTheInstallation)
foreach(entry
    update|Delta.UpdatesTheOlderInstallationToAFreshInstallOfTheNewer
    uninstall_after_update|Delta.UninstallAfterTheUpdateRemovesEverything
    without_silent_switch|Delta.WithoutTheSilentSwitchSaysSoAndWritesNothing
    upper_case_hashes|Cases/DeltaSuccess.Updates/upper_case_hashes
    empty_file_list|Cases/DeltaSuccess.Updates/empty_file_list
    file_list_forms|Cases/DeltaSuccess.Updates/file_list_forms
    kill_running_product|Cases/DeltaSuccess.Updates/kill_running_product
    modified_installed_file|${failure}/modified_installed_file
    corrupt_patch_container|${failure}/corrupt_patch_container
    corrupt_patch|${failure}/corrupt_patch
    wrong_new_hash|${failure}/wrong_new_hash
    setup_fails|${failure}/setup_fails
    manifest_without_hashes|${failure}/manifest_without_hashes
    file_list_absolute|${failure}/file_list_absolute
    file_list_drive|${failure}/file_list_drive
    file_list_parent|${failure}/file_list_parent
    no_installation|DeltaWithoutInstallation.Returns200BeforeExtractingAnything)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 suffix)
  list(GET parts 1 filter)
  set(test delta_${suffix})
  oku_add_script_test(${test}
    COMMAND ${CMAKE_SOURCE_DIR}/tests/harness/fresh-prefix.sh ${test} ${CMAKE_BINARY_DIR}/wine-run.sh
      $<TARGET_FILE:delta_scenarios> --gtest_color=no --gtest_filter=${filter}
    TIMEOUT 400 ENV OKU_WINE_TIMEOUT=400)
  # A filter that selects nothing would pass silently.
  set_tests_properties(${test} PROPERTIES PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] 1 test\\."
    FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
endforeach()
