# Working directory manager and payload extraction. The Fixture* cases need drives and links
# made on the Linux side: the plain runs skip them, workspace_drive_fixtures runs them.

# Resources of the payload test program: known bytes, a zero-length file, 2 MiB for disk full.
set(ws_payload_dir ${CMAKE_CURRENT_BINARY_DIR}/workspace_payload)
file(CONFIGURE OUTPUT ${ws_payload_dir}/known.bin CONTENT "Oku payload test resource\nsecond line\n")
file(CONFIGURE OUTPUT ${ws_payload_dir}/empty.bin CONTENT "")
string(REPEAT "0123456789abcdef" 131072 ws_big)
file(CONFIGURE OUTPUT ${ws_payload_dir}/big.bin CONTENT "${ws_big}" @ONLY)
unset(ws_big)
file(CONFIGURE OUTPUT ${ws_payload_dir}/payload_test.rc CONTENT
"1 RCDATA \"${ws_payload_dir}/known.bin\"
2 RCDATA \"${ws_payload_dir}/empty.bin\"
3 RCDATA \"${ws_payload_dir}/big.bin\"
" @ONLY)

oku_add_wine_test(workspace_temp_directory_test
  SOURCES ${OKU_TEST_GROUP_DIR}/temp_directory_test.cpp
  LIBS workspace common oku_test_support
  ENV GTEST_FILTER=-Fixture*
  LOCKS wine-user-state)

oku_add_wine_test(workspace_payload_test
  SOURCES ${OKU_TEST_GROUP_DIR}/payload_test.cpp ${ws_payload_dir}/payload_test.rc
  LIBS workspace common oku_test_support
  ENV GTEST_FILTER=-Fixture*)

oku_add_wine_test(workspace_installer_payload_test
  SOURCES ${OKU_TEST_GROUP_DIR}/installer_payload_test.cpp
  LIBS workspace common oku_test_support
  DEPENDS OkuSetup OkuUninstall)
target_compile_definitions(workspace_installer_payload_test PRIVATE
  OKU_EXPECTED_SETUP_VERSION="${OKU_SETUP_VERSION}")

# Both programs again, with tmpfs drives (read-only, exact free space, 1 MiB) and links.
oku_add_script_test(workspace_drive_fixtures
  COMMAND ${OKU_TEST_GROUP_DIR}/with-drives.sh ${CMAKE_BINARY_DIR}/wine-run.sh
    $<TARGET_FILE:workspace_temp_directory_test> $<TARGET_FILE:workspace_payload_test>
  LOCKS wine-user-state)

# oku_installer_variant itself: another payload for the same installer program.
file(CONFIGURE OUTPUT ${ws_payload_dir}/variant_extra.rc CONTENT
"${OKU_PAYLOAD_ID_chrome_7z.patch} RCDATA \"${ws_payload_dir}/known.bin\"
" @ONLY)
oku_installer_variant(workspace_variant_check OUTPUT_NAME workspace_variant_check.exe
  MINI_INSTALLER ${CMAKE_SOURCE_DIR}/resources/oku_installer.bat
  VERSION 1.2.3.4
  EXTRA_RC ${ws_payload_dir}/variant_extra.rc
  OMIT ${OKU_PAYLOAD_ID_dockit.dll})
add_dependencies(workspace_installer_payload_test workspace_variant_check)
