oku_add_native_test(native_delta_manifest SOURCES ${CMAKE_SOURCE_DIR}/tests/setup/delta_manifest_test.cpp)
oku_add_native_test(native_delta_file_list SOURCES ${CMAKE_SOURCE_DIR}/tests/native/delta_file_list_test.cpp)
