oku_add_native_test(native_deletion_commands SOURCES ${CMAKE_SOURCE_DIR}/tests/uninstall/deletion_commands_test.cpp)
