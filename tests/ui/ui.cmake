# The window toolkit: platform-free logic (also built natively), builder, attributes, fonts,
# layout of the installer's tree, painting into bitmaps, and input through a real window.
oku_add_wine_test(ui_portable_test
  SOURCES ${OKU_TEST_GROUP_DIR}/portable_test.cpp
  LIBS ui)

oku_windows_program(ui_probe GUI ${OKU_TEST_GROUP_DIR}/ui_probe.cpp)
target_link_libraries(ui_probe PRIVATE ui)
set_target_properties(ui_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/tests)

oku_add_wine_test(ui_toolkit_test
  SOURCES ${OKU_TEST_GROUP_DIR}/toolkit_test.cpp
  LIBS ui oku_test_support
  DEPENDS ui_probe
  LOCKS x-display-input
  TIMEOUT 240)
set_tests_properties(ui_toolkit_test PROPERTIES LABELS input)
