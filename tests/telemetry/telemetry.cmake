# The event reporter and the device-identifier client against our real lantern_sdk.dll and
# tessel.dll. Each scenario runs in a child of the test binary (the reporter is one per process);
# the parent run leaves the Scenario cases out (they would only skip there).

# A library with exports missing; the tests copy it as lantern_sdk.dll and as tessel.dll.
add_library(telemetry_broken_sdk SHARED ${OKU_TEST_GROUP_DIR}/broken_sdk.cpp ${OKU_TEST_GROUP_DIR}/broken_sdk.def)
set_target_properties(telemetry_broken_sdk PROPERTIES PREFIX "" ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
# An analytics library without a device identifier.
add_library(telemetry_no_device_id_sdk SHARED ${OKU_TEST_GROUP_DIR}/no_device_id_sdk.cpp ${OKU_TEST_GROUP_DIR}/no_device_id_sdk.def)
set_target_properties(telemetry_no_device_id_sdk PROPERTIES PREFIX "" ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
# A tessel.dll whose identifier fills the whole buffer, or is missing on request.
add_library(telemetry_long_id_tessel SHARED ${OKU_TEST_GROUP_DIR}/long_id_tessel.cpp ${OKU_TEST_GROUP_DIR}/long_id_tessel.def)
set_target_properties(telemetry_long_id_tessel PROPERTIES PREFIX "" ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)

oku_add_wine_test(telemetry_event_reporter_test
  SOURCES ${OKU_TEST_GROUP_DIR}/event_reporter_test.cpp
  LIBS telemetry oku_test_support
  DEPENDS lantern_sdk tessel telemetry_broken_sdk telemetry_no_device_id_sdk
  ENV GTEST_FILTER=-Scenario.*
  TIMEOUT 300)
oku_add_wine_test(telemetry_tessel_manager_test
  SOURCES ${OKU_TEST_GROUP_DIR}/tessel_manager_test.cpp
  LIBS telemetry oku_test_support
  DEPENDS lantern_sdk tessel telemetry_broken_sdk telemetry_long_id_tessel
  ENV GTEST_FILTER=-Scenario.*
  TIMEOUT 120)
oku_check_child_scenarios_run(SOURCES ${OKU_TEST_GROUP_DIR}/event_reporter_test.cpp
  ${OKU_TEST_GROUP_DIR}/tessel_manager_test.cpp)
