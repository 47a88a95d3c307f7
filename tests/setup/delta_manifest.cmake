oku_add_wine_test(setup_delta_manifest_test SOURCES ${OKU_TEST_GROUP_DIR}/delta_manifest_test.cpp LIBS setup_core)
