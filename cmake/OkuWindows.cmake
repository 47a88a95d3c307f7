# Settings shared by every Windows target.
add_compile_definitions(UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0A00 WINVER=0x0A00)
# Statically linked so the programs run on a clean Windows without MinGW DLLs.
add_link_options(-static -static-libgcc -static-libstdc++)
# Reproducible bytes: the same sources give the same files in any folder. No link time in the PE
# headers (the checksum then follows from the content alone) and no source or build folder in any
# object (symbol-table file names, debug info, __FILE__); the build folder is mapped last, so it
# wins when it lies inside the source folder.
add_link_options(-Wl,--no-insert-timestamp)
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>")

# oku_windows_program(target GUI|CONSOLE sources...): a Windows executable with wWinMain (GUI)
# or wmain (CONSOLE), linked against the given libraries afterwards by the caller; signed after
# linking when marked with oku_sign() in a signing build (OkuSigning.cmake).
function(oku_windows_program target kind)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE oku_warnings)
  if(kind STREQUAL "GUI")
    target_link_options(${target} PRIVATE -municode -mwindows)
  else()
    target_link_options(${target} PRIVATE -municode -mconsole)
  endif()
  _oku_sign_post_build(${target})
endfunction()

# oku_version_resource(target NAME "OkuSetup" FILE "OkuSetup.exe" VERSION 1.2.3.4 [ICON path] [DESCRIPTION text])
# Generates a VERSIONINFO (and icon 101) resource from one version number and adds it to target.
function(oku_version_resource target)
  cmake_parse_arguments(V "" "NAME;FILE;VERSION;ICON;DESCRIPTION;RCNAME" "" ${ARGN})
  if(NOT V_DESCRIPTION)
    set(V_DESCRIPTION ${V_NAME})
  endif()
  if(NOT V_RCNAME)
    set(V_RCNAME ${target}_version)
  endif()
  string(REPLACE "." "," V_COMMAS ${V_VERSION})
  set(OKU_RC_NAME ${V_NAME})
  set(OKU_RC_FILE ${V_FILE})
  set(OKU_RC_VERSION ${V_VERSION})
  set(OKU_RC_VERSION_COMMAS ${V_COMMAS})
  set(OKU_RC_DESCRIPTION ${V_DESCRIPTION})
  if(V_ICON)
    set(OKU_RC_ICON_LINE "101 ICON \"${V_ICON}\"")
  else()
    set(OKU_RC_ICON_LINE "")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${V_RCNAME}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# The code both programs are made of is optimised for size in release builds (-O3 made each about
# twice as large; their time goes to system calls, not to our loops), and the shipped programs are
# linked without symbols. bench/run-all.sh reports the sizes.
set(OKU_SHIPPED_COMPILE_OPTIONS $<$<CONFIG:Release>:-Os>)
set(OKU_SHIPPED_LINK_OPTIONS $<$<NOT:$<CONFIG:Debug>>:-s>)

# oku_module(name [DEPS lib...] [EXCLUDE file...]): the static library of one folder, from its
# *.cpp and portable/*.cpp, compiled with OKU_SHIPPED_COMPILE_OPTIONS. A folder without sources
# yet is an interface library.
function(oku_module name)
  cmake_parse_arguments(M "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/portable/*.cpp)
  foreach(excluded ${M_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${M_DEPS} PRIVATE oku_warnings)
    target_compile_options(${name} PRIVATE ${OKU_SHIPPED_COMPILE_OPTIONS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${M_DEPS})
  endif()
endfunction()
include(OkuDelayLoad)
