# The installation's registry records, built from their own sources so they do not wait for the
# rest of setup.
oku_add_wine_test(setup_records_test
  SOURCES ${OKU_TEST_GROUP_DIR}/records_test.cpp
          ${CMAKE_SOURCE_DIR}/setup/install_records.cpp
  LIBS common oku_test_support
  LOCKS wine-user-state
  TIMEOUT 120)
