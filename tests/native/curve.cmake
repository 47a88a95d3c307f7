oku_add_native_test(native_progress_curve SOURCES ${CMAKE_SOURCE_DIR}/tests/setup/progress_curve_test.cpp)
