# The code's structure: no include cycle between units, includes only down the module layers.
add_test(NAME structure_include_graph
  COMMAND bash ${OKU_TEST_GROUP_DIR}/include-graph.sh ${CMAKE_SOURCE_DIR})
