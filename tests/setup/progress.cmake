# The progress simulation, built from its own sources so it does not wait for the rest of setup.
oku_add_wine_test(setup_progress_test
  SOURCES ${OKU_TEST_GROUP_DIR}/progress_simulator_test.cpp
          ${CMAKE_SOURCE_DIR}/setup/progress_simulator.cpp
          ${CMAKE_SOURCE_DIR}/setup/portable/segmented_smooth_curve.cpp
  LIBS common oku_test_support
  TIMEOUT 120)
