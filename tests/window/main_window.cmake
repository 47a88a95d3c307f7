# CMainWindow in-process (no installation): DPI changes, progress text, failure spacing, window
# region, title band and the disabled install button, over the shipped resources/main.xml.
oku_add_wine_test(window_main_window_test
  SOURCES ${OKU_TEST_GROUP_DIR}/main_window_test.cpp
  LIBS setup_window oku_test_support
  LOCKS x-display-input
  TIMEOUT 120)
set_tests_properties(window_main_window_test PROPERTIES LABELS input)
