oku_add_wine_test(setup_command_line_test
  SOURCES ${OKU_TEST_GROUP_DIR}/command_line_test.cpp
  LIBS setup_core)
