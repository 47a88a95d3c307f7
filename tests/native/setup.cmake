oku_add_native_test(native_delta_manifest SOURCES ${CMAKE_SOURCE_DIR}/tests/setup/delta_manifest_test.cpp)
