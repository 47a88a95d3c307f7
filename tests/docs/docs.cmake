# The administrator reference against the code: every exit code, event and command-line form the
# code defines is written down in docs/.
add_test(NAME docs_reference_complete COMMAND ${OKU_TEST_GROUP_DIR}/reference-check.sh ${CMAKE_SOURCE_DIR})
