# Incremental installation end to end: the older demo product installed by a silent installer of an
# older setup version, then update packages (good and damaged ones) run with "/S", each scenario in
# a fresh copy of the Wine prefix.
# In-process: the incremental branch's steps against packages of stand-in tools (fake_tool.cpp).
set(delta_unit_dir ${CMAKE_CURRENT_BINARY_DIR}/delta_unit)
set(delta_fake_base "stand-in base archive")
set(delta_fake_new "stand-in new archive")
oku_windows_program(delta_fake_tool CONSOLE ${OKU_TEST_GROUP_DIR}/fake_tool.cpp)
target_compile_definitions(delta_fake_tool PRIVATE
  OKU_FAKE_BASE_ARCHIVE="${delta_fake_base}" OKU_FAKE_NEW_ARCHIVE="${delta_fake_new}")
set_target_properties(delta_fake_tool PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${delta_unit_dir})
string(SHA256 delta_fake_base_hash "${delta_fake_base}")
string(SHA256 delta_fake_new_hash "${delta_fake_new}")
file(CONFIGURE OUTPUT ${delta_unit_dir}/manifest.json CONTENT
"{
  \"base_version\": \"1.0.0.0\",
  \"target_version\": \"2.0.0.0\",
  \"base_chrome_7z_sha256\": \"${delta_fake_base_hash}\",
  \"new_chrome_7z_sha256\": \"${delta_fake_new_hash}\",
  \"file_list\": [
    \"Chrome-bin/1.0.0.0//a.dll\",
    \"Chrome-bin/1.0.0.0/./sub/b.dll\",
    \"Chrome-bin/\",
    \"Chrome-bin/1.0.0.0/missing.dll\"
  ]
}
")
file(CONFIGURE OUTPUT ${delta_unit_dir}/patch.bin CONTENT "stand-in patch")
file(CONFIGURE OUTPUT ${delta_unit_dir}/not_a_program.bin CONTENT "not a program")
file(CONFIGURE OUTPUT ${delta_unit_dir}/version.txt CONTENT "9.8.7.6")
# The whole package (its setup.exe cannot be started), and one without 131.
set(delta_tool ${delta_unit_dir}/delta_fake_tool.exe)
set(delta_rc_lines
  "${OKU_PAYLOAD_ID_chrome_7z.patch} RCDATA \"${delta_unit_dir}/patch.bin\""
  "${OKU_PAYLOAD_ID_setup.exe} RCDATA \"${delta_unit_dir}/not_a_program.bin\""
  "${OKU_PAYLOAD_ID_zucchini.exe} RCDATA \"${delta_tool}\""
  "${OKU_PAYLOAD_ID_7za.exe} RCDATA \"${delta_tool}\""
  "${OKU_PAYLOAD_ID_manifest.json} RCDATA \"${delta_unit_dir}/manifest.json\""
  "${OKU_PAYLOAD_ID_version.txt} RCDATA \"${delta_unit_dir}/version.txt\""
  "${OKU_PAYLOAD_ID_OkuUninstall.exe} RCDATA \"${delta_unit_dir}/not_a_program.bin\"")
list(JOIN delta_rc_lines "\n" delta_rc)
file(CONFIGURE OUTPUT ${delta_unit_dir}/package.rc CONTENT "${delta_rc}\n")
list(REMOVE_AT delta_rc_lines 1)
list(JOIN delta_rc_lines "\n" delta_rc)
file(CONFIGURE OUTPUT ${delta_unit_dir}/partial_package.rc CONTENT "${delta_rc}\n")
set_source_files_properties(${delta_unit_dir}/package.rc ${delta_unit_dir}/partial_package.rc
  PROPERTIES OBJECT_DEPENDS ${delta_tool})
oku_windows_program(delta_partial_package CONSOLE ${CMAKE_SOURCE_DIR}/tools/testhelpers/idle_main.cpp
  ${delta_unit_dir}/partial_package.rc)
set_target_properties(delta_partial_package PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${delta_unit_dir})
add_dependencies(delta_partial_package delta_fake_tool)
oku_add_wine_test(delta_unit_test
  SOURCES ${OKU_TEST_GROUP_DIR}/delta_unit_test.cpp ${delta_unit_dir}/package.rc
  LIBS setup_core oku_test_support
  DEPENDS delta_fake_tool delta_partial_package)
target_compile_definitions(delta_unit_test PRIVATE OKU_DELTA_PARTIAL_PACKAGE="${delta_unit_dir}/delta_partial_package.exe"
  OKU_DELTA_FAKE_TOOL="${delta_tool}")

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
  oku_add_scenario(delta_${suffix} PROGRAM delta_scenarios FILTER ${filter} TIMEOUT 400)
endforeach()
oku_check_scenarios_cover(delta_scenarios SOURCES ${OKU_TEST_GROUP_DIR}/delta_test.cpp)
