# Platform utilities: processes, libraries, version resources and machine queries, against real
# helper programs (tools/testhelpers) and, for the free-space boundary and a read-only volume,
# tmpfs drives mapped into the prefix by the platform_drives fixture.
set(platform_mount_root ${CMAKE_BINARY_DIR}/platform-drives)
oku_add_script_test(common_platform_drives_setup
  COMMAND ${OKU_TEST_GROUP_DIR}/platform_tmpfs.sh setup ${OKU_WINEPREFIX} ${platform_mount_root}
  TIMEOUT 60)
oku_add_script_test(common_platform_drives_cleanup
  COMMAND ${OKU_TEST_GROUP_DIR}/platform_tmpfs.sh cleanup ${OKU_WINEPREFIX} ${platform_mount_root}
  TIMEOUT 60)
set_tests_properties(common_platform_drives_setup PROPERTIES FIXTURES_SETUP platform_drives)
set_tests_properties(common_platform_drives_cleanup PROPERTIES FIXTURES_CLEANUP platform_drives)

oku_add_wine_test(common_platform_test
  SOURCES
    ${OKU_TEST_GROUP_DIR}/platform_support.cpp
    ${OKU_TEST_GROUP_DIR}/platform_process_test.cpp
    ${OKU_TEST_GROUP_DIR}/platform_version_test.cpp
    ${OKU_TEST_GROUP_DIR}/platform_system_test.cpp
  LIBS common oku_test_support
  DEPENDS th_sleep th_version_probe th_two_translations th_foreign_translation)
set_tests_properties(common_platform_test PROPERTIES FIXTURES_REQUIRED "wineprefix;platform_drives")

oku_add_wine_test(common_platform_version_compare_test
  SOURCES ${OKU_TEST_GROUP_DIR}/platform_version_compare_test.cpp
  LIBS common)
