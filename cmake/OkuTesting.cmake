# Tests run the real Windows binaries under Wine, in a private prefix inside the build tree.
set(OKU_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Private Wine prefix for the tests")
set(OKU_TEST_TIMEOUT 300 CACHE STRING "Default timeout of one test binary, seconds")

configure_file(${CMAKE_SOURCE_DIR}/tests/harness/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
  @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(OKU_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
if(NOT EXISTS ${OKU_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found at ${OKU_GTEST_SOURCE}; run scripts/bootstrap.sh")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${OKU_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# Every test runs through this wrapper: a run that succeeds but whose output shows a skipped case
# ends with 77, which CTest lists as skipped (a GoogleTest skip alone exits 0 and would read as a
# pass). A failure stays a failure, also when some cases skipped.
set(OKU_TEST_OUTCOME ${CMAKE_BINARY_DIR}/test-outcome.sh)
set(OKU_SKIP_CODE 77)
set(OKU_SKIP_PATTERN "^\\[  SKIPPED \\]")
file(CONFIGURE OUTPUT ${OKU_TEST_OUTCOME} @ONLY CONTENT [=[#!/usr/bin/env bash
# test-outcome.sh <extended regex> <command> [args...]: runs the command; when it succeeds and its
# output matches the expression (a skipped case), exits @OKU_SKIP_CODE@ instead of 0.
pattern="$1"; shift
log=$(mktemp /tmp/oku-test-output.XXXXXX) || exit 125
trap 'rm -f "$log"' EXIT
"$@" 2>&1 | tee "$log"
rc=${PIPESTATUS[0]}
if [ "$rc" -eq 0 ] && grep -Eq -- "$pattern" "$log"; then
  echo "test-outcome: a case was skipped"
  exit @OKU_SKIP_CODE@
fi
exit "$rc"
]=])

# What every test under Wine shares: its timeout, the skip code, the template prefix it needs,
# its environment and the locks that serialise it with tests sharing Windows state.
function(_oku_test_properties name timeout locks environment)
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${timeout}
    SKIP_RETURN_CODE ${OKU_SKIP_CODE}
    FIXTURES_REQUIRED wineprefix
    ENVIRONMENT "${environment}")
  if(locks)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${locks}")
  endif()
endfunction()

# oku_add_wine_test(name SOURCES ... LIBS ... [TIMEOUT s] [LOCKS lock...] [ENV VAR=VALUE...] [DEPENDS target...])
# A GoogleTest console program run under Wine as one CTest test. LOCKS serialises tests that
# share process-wide Windows state (the product's registry key, named mutexes, the temp folder).
# A skipped case shows the test as skipped.
function(oku_add_wine_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LOCKS;ENV;DEPENDS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE gtest_main oku_warnings ${T_LIBS})
  target_link_options(${name} PRIVATE -mconsole)
  if(T_DEPENDS)
    add_dependencies(${name} ${T_DEPENDS})
  endif()
  add_test(NAME ${name} COMMAND bash ${OKU_TEST_OUTCOME} "${OKU_SKIP_PATTERN}"
    ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}> --gtest_color=no)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT ${OKU_TEST_TIMEOUT})
  endif()
  _oku_test_properties(${name} "${T_TIMEOUT}" "${T_LOCKS}"
    "OKU_BIN_DIR=${CMAKE_BINARY_DIR}/bin;OKU_SOURCE_DIR=${CMAKE_SOURCE_DIR};OKU_WINE_TIMEOUT=${T_TIMEOUT};${T_ENV}")
endfunction()

# oku_add_script_test(name COMMAND ... [TIMEOUT s] [LOCKS ...] [SKIP_OUTPUT regex]): a shell-driven
# scenario (end-to-end tests that start the built programs through wine-run.sh). A skipped
# GoogleTest case, exit code 77, or a successful run whose output matches SKIP_OUTPUT (an extended
# regular expression for a part left out) shows the test as skipped.
function(oku_add_script_test name)
  cmake_parse_arguments(T "" "TIMEOUT;SKIP_OUTPUT" "COMMAND;LOCKS;ENV" ${ARGN})
  set(pattern "${OKU_SKIP_PATTERN}")
  if(T_SKIP_OUTPUT)
    string(APPEND pattern "|${T_SKIP_OUTPUT}")
  endif()
  add_test(NAME ${name} COMMAND bash ${OKU_TEST_OUTCOME} "${pattern}" ${T_COMMAND})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT ${OKU_TEST_TIMEOUT})
  endif()
  _oku_test_properties(${name} "${T_TIMEOUT}" "${T_LOCKS}"
    "OKU_BIN_DIR=${CMAKE_BINARY_DIR}/bin;OKU_BUILD_DIR=${CMAKE_BINARY_DIR};OKU_SOURCE_DIR=${CMAKE_SOURCE_DIR};OKU_WINE_RUN=${CMAKE_BINARY_DIR}/wine-run.sh;OKU_WINEPREFIX_TEMPLATE=${OKU_WINEPREFIX};${T_ENV}")
endfunction()

# oku_add_scenario(<test> PROGRAM <target> FILTER <gtest filter> [TIMEOUT s] [WRAPPER command...]
#                  [SKIP_OUTPUT regex] [ENV VAR=VALUE...] [LABELS label...] [LOCKS lock...])
# One end-to-end scenario: the cases of <target> that FILTER selects, run in a fresh copy of the
# template prefix (a clean machine), through WRAPPER when given. A filter that selects no case
# fails (it would otherwise pass with exit code 0). The filter is recorded on the target for
# oku_check_scenarios_cover.
function(oku_add_scenario test)
  cmake_parse_arguments(S "" "PROGRAM;FILTER;TIMEOUT;SKIP_OUTPUT" "WRAPPER;ENV;LABELS;LOCKS" ${ARGN})
  if(NOT S_TIMEOUT)
    set(S_TIMEOUT 300)
  endif()
  set(skip_output "")
  if(S_SKIP_OUTPUT)
    set(skip_output SKIP_OUTPUT "${S_SKIP_OUTPUT}")
  endif()
  set(locks "")
  if(S_LOCKS)
    set(locks LOCKS ${S_LOCKS})
  endif()
  oku_add_script_test(${test}
    COMMAND ${CMAKE_SOURCE_DIR}/tests/harness/fresh-prefix.sh ${test} ${S_WRAPPER}
      ${CMAKE_BINARY_DIR}/wine-run.sh $<TARGET_FILE:${S_PROGRAM}> --gtest_color=no --gtest_filter=${S_FILTER}
    TIMEOUT ${S_TIMEOUT} ${skip_output} ${locks} ENV OKU_WINE_TIMEOUT=${S_TIMEOUT} ${S_ENV})
  set_tests_properties(${test} PROPERTIES FAIL_REGULAR_EXPRESSION "Running 0 tests")
  if(S_LABELS)
    set_tests_properties(${test} PROPERTIES LABELS "${S_LABELS}")
  endif()
  set_property(TARGET ${S_PROGRAM} APPEND PROPERTY OKU_SCENARIO_FILTERS "${S_FILTER}")
endfunction()

# oku_check_scenarios_cover(<target> SOURCES <files...> [UNLISTED Suite.Name...])
# Stops the configuration when a TEST, TEST_F or TEST_P in the sources is selected by none of
# the target's scenario filters, so every case written is also run. A filter "Suite.*" covers
# the suite; "Prefix/Suite.Name/param" covers the parameterised Suite.Name. UNLISTED names cases
# left out on purpose in this configuration.
function(oku_check_scenarios_cover target)
  cmake_parse_arguments(C "" "" "SOURCES;UNLISTED" ${ARGN})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${C_SOURCES})
  get_property(filters TARGET ${target} PROPERTY OKU_SCENARIO_FILTERS)
  set(patterns "")
  foreach(filter ${filters})
    string(REGEX REPLACE "^[A-Za-z0-9_]+/" "" filter "${filter}")
    string(REGEX REPLACE "/[^/]*$" "" filter "${filter}")
    string(REPLACE "." "\\." filter "${filter}")
    string(REPLACE "*" ".*" filter "${filter}")
    string(REPLACE "?" "." filter "${filter}")
    list(APPEND patterns "^${filter}$")
  endforeach()
  set(missing "")
  foreach(source ${C_SOURCES})
    file(STRINGS ${source} lines REGEX "^TEST(_F|_P)?\\(")
    foreach(line ${lines})
      string(REGEX REPLACE "^TEST(_F|_P)?\\(([A-Za-z0-9_]+), *([A-Za-z0-9_]+)\\).*" "\\2.\\3" name "${line}")
      if(name IN_LIST C_UNLISTED)
        continue()
      endif()
      set(covered FALSE)
      foreach(pattern ${patterns})
        if(name MATCHES "${pattern}")
          set(covered TRUE)
          break()
        endif()
      endforeach()
      if(NOT covered)
        list(APPEND missing "${name}")
      endif()
    endforeach()
  endforeach()
  if(missing)
    list(JOIN missing ", " missing)
    message(FATAL_ERROR "${target}: cases that no scenario runs: ${missing}")
  endif()
endfunction()

# oku_check_child_scenarios_run(SOURCES <files...>)
# The telemetry tests run each TEST(Scenario, <name>) in a child that the parent starts with
# RunScenario("<name>", ...) or StartScenario("<name>", ...); a scenario no parent starts would
# never run. Stops the configuration naming such scenarios.
function(oku_check_child_scenarios_run)
  cmake_parse_arguments(C "" "" "SOURCES" ${ARGN})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${C_SOURCES})
  set(text "")
  set(scenarios "")
  foreach(source ${C_SOURCES})
    file(READ ${source} content)
    string(APPEND text "${content}")
    file(STRINGS ${source} lines REGEX "^TEST\\(Scenario, *[A-Za-z0-9_]+\\)")
    foreach(line ${lines})
      string(REGEX REPLACE "^TEST\\(Scenario, *([A-Za-z0-9_]+)\\).*" "\\1" name "${line}")
      list(APPEND scenarios ${name})
    endforeach()
  endforeach()
  set(missing "")
  foreach(name ${scenarios})
    string(FIND "${text}" "Scenario(\"${name}\"" at)
    if(at EQUAL -1)
      list(APPEND missing ${name})
    endif()
  endforeach()
  if(missing)
    list(JOIN missing ", " missing)
    message(FATAL_ERROR "scenarios that no test starts: ${missing}")
  endif()
endfunction()
