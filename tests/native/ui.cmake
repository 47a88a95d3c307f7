oku_add_native_test(native_ui SOURCES ${CMAKE_SOURCE_DIR}/tests/ui/portable_test.cpp)
