# The patcher's VCDIFF coder, natively: round trips, xdelta3 cross-checks, corrupt patches.
# zucchini_native is the command line built for Linux (cross-checks and bench/zucchini).
add_executable(zucchini_native ${CMAKE_SOURCE_DIR}/tools/zucchini/native/main.cpp)
target_link_libraries(zucchini_native PRIVATE oku_portable oku_warnings)
oku_add_native_test(native_zucchini SOURCES ${CMAKE_SOURCE_DIR}/tests/tools/zucchini_native_test.cpp)
target_compile_definitions(native_zucchini PRIVATE "ZUCCHINI_NATIVE_EXE=\"$<TARGET_FILE:zucchini_native>\"")
add_dependencies(native_zucchini zucchini_native)
