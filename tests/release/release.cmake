# Release checks on one second build of the shipped programs (no tests) in another folder:
#   release_reproducible  builds them from a copy of the sources and compares them byte for byte
#                         with this build's;
#   release_signed        turns that build into a signing release build (the product's files taken
#                         from release folders made of the demo product): every shipped program and
#                         the update package are signed and verify, an incomplete release folder is
#                         refused, and the signed installer installs and uninstalls.
# The builds take both processors of a `ctest -j 2` run.
set(release_work ${CMAKE_BINARY_DIR}/release-check)

oku_add_script_test(release_reproducible
  COMMAND ${OKU_TEST_GROUP_DIR}/reproducible.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR} ${CMAKE_BUILD_TYPE} ${release_work}
  TIMEOUT 2400)
set_tests_properties(release_reproducible PROPERTIES FIXTURES_SETUP release_second_build)

oku_add_script_test(release_signed
  COMMAND ${CMAKE_SOURCE_DIR}/tests/harness/fresh-prefix.sh release_signed
    ${OKU_TEST_GROUP_DIR}/signed.sh ${CMAKE_BUILD_TYPE} ${release_work}
  TIMEOUT 1200 ENV OKU_WINE_TIMEOUT=300)
set_tests_properties(release_signed PROPERTIES FIXTURES_REQUIRED "wineprefix;release_second_build")

set_tests_properties(release_reproducible release_signed PROPERTIES PROCESSORS 2)
