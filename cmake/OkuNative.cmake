# Native (Linux) build of the platform-free logic: unit tests with sanitizers and fuzzers.
option(OKU_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" ON)
if(OKU_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

file(GLOB portable_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/*/portable/*.cpp ${CMAKE_SOURCE_DIR}/*/*/portable/*.cpp)
add_library(oku_portable STATIC ${portable_sources})
target_include_directories(oku_portable PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(oku_portable PRIVATE oku_warnings)


# oku_add_native_test(name SOURCES ...): a native GoogleTest program over oku_portable.
function(oku_add_native_test name)
  cmake_parse_arguments(T "" "" "SOURCES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE oku_portable GTest::gtest_main oku_warnings)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()

enable_testing()
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/native/CMakeLists.txt)
  add_subdirectory(tests/native)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/fuzz/CMakeLists.txt)
  add_subdirectory(fuzz)
endif()
