oku_add_native_test(native_command_line SOURCES ${CMAKE_SOURCE_DIR}/tests/setup/command_line_test.cpp)
