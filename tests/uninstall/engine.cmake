# UninstallEngine end to end: a driver process runs the engine against a staged installation
# with the demo product's setup.exe; its boxes are answered by caption. Uses the product keys.
oku_windows_program(uninstall_engine_driver CONSOLE ${OKU_TEST_GROUP_DIR}/engine_driver.cpp)
target_link_libraries(uninstall_engine_driver PRIVATE uninstall)
set_target_properties(uninstall_engine_driver PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/test-helpers)
oku_windows_program(uninstall_fake_setup GUI ${OKU_TEST_GROUP_DIR}/fake_setup.cpp)
set_target_properties(uninstall_fake_setup PROPERTIES OUTPUT_NAME setup RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/test-helpers/fake)
oku_add_wine_test(uninstall_engine_test
  SOURCES ${OKU_TEST_GROUP_DIR}/engine_test.cpp
  LIBS uninstall oku_removal_test_util
  DEPENDS uninstall_engine_driver uninstall_fake_setup lockfile product_setup_new lantern_sdk tessel OkuUninstall
  LOCKS wine-user-state
  TIMEOUT 300)
# The engine's constructor and exit-code handling in the test's own process.
oku_add_wine_test(uninstall_engine_codes_test
  SOURCES ${OKU_TEST_GROUP_DIR}/engine_codes_test.cpp
  LIBS uninstall oku_removal_test_util
  TIMEOUT 60)
