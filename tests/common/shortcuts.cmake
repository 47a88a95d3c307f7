oku_add_wine_test(common_shortcuts_test
  SOURCES ${OKU_TEST_GROUP_DIR}/shortcuts_test.cpp
  LIBS common oku_test_support
  LOCKS wine-user-state
  TIMEOUT 120)
