# Delay-loaded system libraries. The loader resolves a program's import table before any of our
# code runs, searching the program's own folder first for every DLL that is not a KnownDLL (and,
# under Wine, for the targets of the system DLLs' forwarded exports, such as shell32 and shlwapi
# forwarding to shcore). So both programs import only kernel32 and msvcrt directly; every other
# system library is bound on first call through a delay-load import library, after wWinMain has
# restricted the DLL search to the system directory (SetDefaultDllDirectories).
#
# Each name below is made an interface target of the same name that links the delay-load import
# library of <name>.dll (made at configure time from MinGW's own import library), so every
# `target_link_libraries(... shell32 ...)` in the tree gets the delay-loaded form.
# tests/security checks the programs' import tables.
set(OKU_DELAY_LOADED_DLLS
  advapi32 user32 gdi32 shell32 shlwapi ole32 oleaut32 version comctl32 uxtheme dwmapi windowscodecs msimg32)

set(oku_delay_dir ${CMAKE_BINARY_DIR}/lib/delay)
file(MAKE_DIRECTORY ${oku_delay_dir})
foreach(dll ${OKU_DELAY_LOADED_DLLS})
  find_library(OKU_IMPORT_LIB_${dll} NAMES lib${dll}.a ${dll} REQUIRED NO_CACHE)
  set(def ${oku_delay_dir}/${dll}.def)
  set(lib ${oku_delay_dir}/lib${dll}_delay.a)
  if(NOT EXISTS ${lib} OR ${OKU_IMPORT_LIB_${dll}} IS_NEWER_THAN ${lib})
    execute_process(COMMAND ${CMAKE_NM} ${OKU_IMPORT_LIB_${dll}} OUTPUT_VARIABLE symbols
      COMMAND_ERROR_IS_FATAL ANY ERROR_QUIET)
    string(REGEX MATCHALL " I __imp_[A-Za-z0-9_@?$]+" imports "${symbols}")
    list(TRANSFORM imports REPLACE " I __imp_" "")
    list(REMOVE_DUPLICATES imports)
    list(SORT imports)
    list(JOIN imports "\n" exports)
    file(WRITE ${def} "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n")
    execute_process(COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --dllname ${dll}.dll --output-delaylib ${lib}
      COMMAND_ERROR_IS_FATAL ANY)
  endif()
  add_library(${dll} INTERFACE)
  target_link_libraries(${dll} INTERFACE ${lib})
endforeach()
