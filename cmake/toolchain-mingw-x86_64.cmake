# Cross-builds 64-bit Windows programs with MinGW-w64 (posix thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OKU_CROSS_PREFIX x86_64-w64-mingw32)

function(oku_find_cross_tool var name)
  find_program(${var} NAMES ${name})
  if(NOT ${var})
    message(FATAL_ERROR
      "Cross tool '${name}' not found. Install Debian's g++-mingw-w64-x86-64-posix "
      "(scripts/bootstrap.sh does it).")
  endif()
endfunction()

oku_find_cross_tool(CMAKE_C_COMPILER ${OKU_CROSS_PREFIX}-gcc-posix)
oku_find_cross_tool(CMAKE_CXX_COMPILER ${OKU_CROSS_PREFIX}-g++-posix)
oku_find_cross_tool(CMAKE_RC_COMPILER ${OKU_CROSS_PREFIX}-windres)
oku_find_cross_tool(CMAKE_AR ${OKU_CROSS_PREFIX}-ar)
oku_find_cross_tool(CMAKE_RANLIB ${OKU_CROSS_PREFIX}-ranlib)
oku_find_cross_tool(OKU_OBJDUMP ${OKU_CROSS_PREFIX}-objdump)
oku_find_cross_tool(OKU_STRIP ${OKU_CROSS_PREFIX}-strip)

set(CMAKE_FIND_ROOT_PATH /usr/${OKU_CROSS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Programs built here run through Wine: tests get the wrapper as their emulator.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_BINARY_DIR}/wine-run.sh" CACHE FILEPATH "Runs Windows programs under Wine")
