# Hostile surroundings: DLLs planted beside the programs, the programs' import tables, and a
# working directory prepared by someone else.

# The build fails when a program imports a DLL directly that the loader could take from beside it.
set(OKU_IMPORT_CHECK ${OKU_TEST_GROUP_DIR}/check-imports.sh)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/security/imports.checked
  COMMAND ${OKU_IMPORT_CHECK} ${OKU_OBJDUMP} $<TARGET_FILE:OkuSetup> $<TARGET_FILE:OkuUninstall>
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/security/imports.checked
  DEPENDS OkuSetup OkuUninstall ${OKU_IMPORT_CHECK}
  COMMENT "Checking the import tables of OkuSetup.exe and OkuUninstall.exe")
add_custom_target(security_import_check ALL DEPENDS ${CMAKE_BINARY_DIR}/security/imports.checked)
add_test(NAME security_import_tables
  COMMAND ${OKU_IMPORT_CHECK} ${OKU_OBJDUMP} $<TARGET_FILE:OkuSetup> $<TARGET_FILE:OkuUninstall>)

oku_windows_program(window_closer CONSOLE ${OKU_TEST_GROUP_DIR}/window_closer.cpp)
target_link_libraries(window_closer PRIVATE common)
set_target_properties(window_closer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/tools)

# Imports shlwapi directly (MinGW's ordinary import library, not the delay-load one).
oku_windows_program(planting_control CONSOLE ${OKU_TEST_GROUP_DIR}/planting_control.cpp)
target_link_libraries(planting_control PRIVATE -l:libshlwapi.a)
set_target_properties(planting_control PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/tools)

# Marker DLLs beside copies of both programs, in a fresh prefix: window mode, /S, uninstall.
oku_add_script_test(security_planted_dlls
  COMMAND ${CMAKE_SOURCE_DIR}/tests/harness/fresh-prefix.sh security_planted_dlls
    ${OKU_TEST_GROUP_DIR}/planted-dlls.sh ${CMAKE_BINARY_DIR}/bin/tools/planted $<TARGET_FILE:window_closer>
    $<TARGET_FILE:planting_control>
  TIMEOUT 600 ENV OKU_WINE_TIMEOUT=300)

# Working directories prepared by someone else, against the real TempDirectoryManager.
oku_add_wine_test(security_working_directory_test
  SOURCES ${OKU_TEST_GROUP_DIR}/working_directory_test.cpp
  LIBS workspace common oku_test_support
  DEPENDS planted_dlls lantern_sdk dockit
  LOCKS wine-user-state)
