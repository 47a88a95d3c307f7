# Helpers shared by the Wine tests (not a test of its own).
if(NOT TARGET oku_test_support)
  add_library(oku_test_support STATIC ${CMAKE_SOURCE_DIR}/tests/support/test_support.cpp)
  target_link_libraries(oku_test_support PUBLIC common PRIVATE oku_warnings)
endif()
