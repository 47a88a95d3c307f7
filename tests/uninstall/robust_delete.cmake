# The deletion ladder, the recursive removal and the child-process deleters on real files and
# processes (tools/lockfile holds files busy). They rewrite the prefix's PendingFileRenameOperations,
# which other tests may write too.
if(NOT TARGET oku_removal_test_util)
  add_library(oku_removal_test_util STATIC ${OKU_TEST_GROUP_DIR}/removal_test_util.cpp)
  target_link_libraries(oku_removal_test_util PUBLIC oku_test_support common PRIVATE oku_warnings)
endif()
oku_add_wine_test(uninstall_robust_delete_test
  SOURCES ${OKU_TEST_GROUP_DIR}/robust_delete_test.cpp
  LIBS uninstall oku_removal_test_util
  DEPENDS lockfile OkuUninstall lantern_sdk tessel
  LOCKS wine-user-state
  TIMEOUT 240)
oku_add_wine_test(uninstall_child_deleter_test
  SOURCES ${OKU_TEST_GROUP_DIR}/child_deleter_test.cpp
  LIBS uninstall oku_removal_test_util
  DEPENDS lockfile
  LOCKS wine-user-state
  TIMEOUT 240)
