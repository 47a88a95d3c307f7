# The shipped programs and, in a release build, the update package between two releases
# (docs/release.md).
#
#   OKU_RELEASE_DIR       folder of the newer release's real files (the payload, see OkuPayload.cmake,
#                         and Chrome-bin/, the browser archive tree)
#   OKU_RELEASE_BASE_DIR  folder of the older release: with it, the target OkuSetup_release_update
#                         builds bin/variants/OkuSetup_update.exe, the update package from its
#                         Chrome-bin/ to OKU_RELEASE_DIR's.
oku_sign(OkuSetup OkuUninstall zucchini)

set(OKU_RELEASE_BASE_DIR "" CACHE PATH
  "Release build: folder of the older release; its Chrome-bin/ is the base of the update package")

# The archive tree of a release folder, checked: the two executables and a version folder.
function(_oku_release_tree folder variable out)
  set(tree ${folder}/Chrome-bin)
  set(problems "")
  foreach(file oku.compass.exe chrome_proxy.exe)
    if(NOT EXISTS ${tree}/${file})
      list(APPEND problems "no ${file}")
    endif()
  endforeach()
  file(GLOB versions LIST_DIRECTORIES true RELATIVE ${tree} ${tree}/[0-9]*)
  set(version "")
  foreach(candidate ${versions})
    if(IS_DIRECTORY ${tree}/${candidate})
      set(version ${candidate})
      break()
    endif()
  endforeach()
  if(NOT version)
    list(APPEND problems "no version folder")
  elseif(NOT EXISTS ${tree}/${version}/Installer/setup.exe)
    list(APPEND problems "no ${version}/Installer/setup.exe")
  endif()
  if(problems)
    list(JOIN problems ", " text)
    message(FATAL_ERROR "${variable}: ${tree} is not the browser archive tree of a release (${text}); "
      "see docs/release.md")
  endif()
  set(${out} ${tree} PARENT_SCOPE)
endfunction()

if(OKU_RELEASE_BASE_DIR)
  if(NOT OKU_RELEASE_DIR)
    message(FATAL_ERROR "OKU_RELEASE_BASE_DIR needs OKU_RELEASE_DIR, the newer release")
  endif()
  if(NOT EXISTS ${OKU_7ZA_EXE})
    message(FATAL_ERROR "The update package needs 7za.exe at ${OKU_7ZA_EXE} (run scripts/bootstrap.sh)")
  endif()
  get_filename_component(base_dir "${OKU_RELEASE_BASE_DIR}" ABSOLUTE)
  get_filename_component(new_dir "${OKU_RELEASE_DIR}" ABSOLUTE)
  _oku_release_tree(${base_dir} OKU_RELEASE_BASE_DIR old_tree)
  _oku_release_tree(${new_dir} OKU_RELEASE_DIR new_tree)
  set(package ${CMAKE_BINARY_DIR}/update-package/OkuSetup_release_update)
  oku_update_package(${package} OLD_TREE ${old_tree} NEW_TREE ${new_tree})
  oku_update_installer(OkuSetup_release_update OUTPUT_NAME OkuSetup_update.exe RESOURCES ${package})
  message(STATUS "Update package: ${old_tree} -> ${new_tree} (target OkuSetup_release_update)")
endif()
