# Every build checks that no source of the programs or their tests closes a handle by hand
# (cmake/check_raw_closes.cmake); both programs depend on it through common.
file(GLOB_RECURSE oku_raw_close_sources CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/common/*.cpp ${CMAKE_SOURCE_DIR}/common/*.h
  ${CMAKE_SOURCE_DIR}/setup/*.cpp ${CMAKE_SOURCE_DIR}/setup/*.h
  ${CMAKE_SOURCE_DIR}/ui/*.cpp ${CMAKE_SOURCE_DIR}/ui/*.h
  ${CMAKE_SOURCE_DIR}/uninstall/*.cpp ${CMAKE_SOURCE_DIR}/uninstall/*.h
  ${CMAKE_SOURCE_DIR}/workspace/*.cpp ${CMAKE_SOURCE_DIR}/workspace/*.h
  ${CMAKE_SOURCE_DIR}/telemetry/*.cpp ${CMAKE_SOURCE_DIR}/telemetry/*.h
  ${CMAKE_SOURCE_DIR}/tests/*.cpp ${CMAKE_SOURCE_DIR}/tests/*.h)
set(oku_raw_close_script ${CMAKE_SOURCE_DIR}/cmake/check_raw_closes.cmake)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/raw_closes.checked
  COMMAND ${CMAKE_COMMAND} -DROOT=${CMAKE_SOURCE_DIR} -DSTAMP=${CMAKE_BINARY_DIR}/raw_closes.checked
          -P ${oku_raw_close_script}
  DEPENDS ${oku_raw_close_sources} ${oku_raw_close_script}
  COMMENT "Checking for handles closed by hand" VERBATIM)
add_custom_target(raw_close_check DEPENDS ${CMAKE_BINARY_DIR}/raw_closes.checked)
