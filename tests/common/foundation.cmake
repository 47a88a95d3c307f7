oku_add_wine_test(common_session_log_test
  SOURCES ${OKU_TEST_GROUP_DIR}/session_log_test.cpp
  LIBS common oku_test_support
  LOCKS wine-user-state)
oku_add_wine_test(common_registry_test
  SOURCES ${OKU_TEST_GROUP_DIR}/registry_test.cpp
  LIBS common oku_test_support
  LOCKS wine-user-state)
# The file-system toolbox: listing, link-safe tree removal (links made on the Linux side),
# directory creation, the temporary directory.
oku_add_wine_test(common_file_system_test
  SOURCES ${OKU_TEST_GROUP_DIR}/file_system_test.cpp
  LIBS common oku_removal_test_util)
