oku_add_wine_test(setup_single_instance_test
  SOURCES ${OKU_TEST_GROUP_DIR}/single_instance_test.cpp
  LIBS setup common oku_test_support
  DEPENDS OkuSetup
  LOCKS wine-user-state
  TIMEOUT 240)
