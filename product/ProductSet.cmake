# oku_product_set(<flavor> <version>): one complete demo product at one version.
#   oku_compass_<flavor>, chrome_proxy_<flavor>, product_setup_<flavor> (setup.exe) and
#   mini_installer_<flavor>, all written to bin/product/<flavor>/.
# The product's files are staged in <build>/product/<flavor>/Chrome-bin/ in the layout of the
# browser archive (the two executables at the top, the version folder below), and
# mini_installer.exe carries that tree as RCDATA resources.

# The deterministic data files are written by a small host program.
find_program(OKU_HOST_CC NAMES gcc cc REQUIRED)
set(OKU_MAKE_DATA ${CMAKE_CURRENT_BINARY_DIR}/make_data)
add_custom_command(OUTPUT ${OKU_MAKE_DATA}
  COMMAND ${OKU_HOST_CC} -O2 -o ${OKU_MAKE_DATA} ${CMAKE_CURRENT_SOURCE_DIR}/data/make_data.c
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/data/make_data.c
  COMMENT "Building the data file generator (host)")

# Data files of the version folder: path, size in bytes, whether the content depends on the version.
set(OKU_PRODUCT_DATA_FILES
  "resources.pak|6291456|versioned"
  "icudtl.dat|8388608|fixed"
  "chrome_100_percent.pak|1048576|versioned"
  "v8_context_snapshot.bin|2621440|versioned"
  "locales/en-US.pak|409600|versioned"
  "locales/zh-CN.pak|409600|versioned"
  "locales/de.pak|409600|versioned"
  "locales/fr.pak|409600|versioned"
  "locales/ja.pak|409600|versioned")

function(oku_product_set flavor version)
  set(out ${CMAKE_BINARY_DIR}/bin/product/${flavor})
  set(stage ${CMAKE_BINARY_DIR}/product/${flavor}/Chrome-bin)
  set(vdir ${stage}/${version})
  set(src ${CMAKE_CURRENT_SOURCE_DIR})

  # The programs.
  set(programs
    "oku_compass_${flavor}|oku.compass|compass/compass_main.cpp|gdi32"
    "chrome_proxy_${flavor}|chrome_proxy|chrome_proxy/chrome_proxy_main.cpp|"
    "product_setup_${flavor}|setup|setup/setup_main.cpp|"
    "mini_installer_${flavor}|mini_installer|mini_installer/mini_installer_main.cpp|")
  foreach(entry ${programs})
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 target)
    list(GET parts 1 name)
    list(GET parts 2 source)
    list(GET parts 3 extra)
    oku_windows_program(${target} GUI ${src}/${source})
    target_link_libraries(${target} PRIVATE oku_product_common ${extra})
    target_link_options(${target} PRIVATE -s)
    target_compile_definitions(${target} PRIVATE OKU_PRODUCT_VERSION="${version}")
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${name} RUNTIME_OUTPUT_DIRECTORY ${out})
    set(icon "")
    if(name STREQUAL "oku.compass" AND EXISTS ${CMAKE_SOURCE_DIR}/resources/app.ico)
      set(icon ICON ${CMAKE_SOURCE_DIR}/resources/app.ico)
    endif()
    oku_version_resource(${target} NAME "Oku.compass" FILE "${name}.exe" VERSION ${version}
      DESCRIPTION "Oku.compass ${name}" ${icon})
  endforeach()

  # Generated data files, written straight into the staging tree.
  set(data_outputs "")
  foreach(entry ${OKU_PRODUCT_DATA_FILES})
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 path)
    list(GET parts 1 size)
    list(GET parts 2 kind)
    set(seed_args ${path})
    if(kind STREQUAL "versioned")
      list(APPEND seed_args ${version})
    endif()
    get_filename_component(dir ${vdir}/${path} DIRECTORY)
    add_custom_command(OUTPUT ${vdir}/${path}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${OKU_MAKE_DATA} ${vdir}/${path} ${size} ${seed_args}
      DEPENDS ${OKU_MAKE_DATA}
      VERBATIM)
    list(APPEND data_outputs ${vdir}/${path})
  endforeach()

  # Built files copied into the staging tree. lantern_sdk and tessel come from their own
  # folders when those are built here; otherwise small placeholders stand in.
  set(copies
    "oku_compass_${flavor}|oku.compass.exe"
    "chrome_proxy_${flavor}|chrome_proxy.exe"
    "product_setup_${flavor}|${version}/Installer/setup.exe"
    "tracer_logger|${version}/tracer_logger.dll"
    "dockit|${version}/dockit.dll"
    "client_extension|${version}/client_extension.dll"
    "crashpad_handler_tracer|${version}/crashpad_handler_tracer.exe"
    "crashpad_handler_extension|${version}/crashpad_handler_extension.exe")
  foreach(library lantern_sdk tessel)
    if(TARGET ${library})
      list(APPEND copies "${library}|${version}/${library}.dll")
    else()
      add_custom_command(OUTPUT ${vdir}/${library}.dll
        COMMAND ${CMAKE_COMMAND} -E make_directory ${vdir}
        COMMAND ${OKU_MAKE_DATA} ${vdir}/${library}.dll 65536 ${library}
        DEPENDS ${OKU_MAKE_DATA}
        VERBATIM)
      list(APPEND data_outputs ${vdir}/${library}.dll)
    endif()
  endforeach()

  set(copy_commands COMMAND ${CMAKE_COMMAND} -E make_directory ${vdir}/Installer)
  set(copy_depends "")
  set(staged "")
  foreach(entry ${copies})
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 target)
    list(GET parts 1 path)
    list(APPEND copy_commands COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${stage}/${path})
    list(APPEND copy_depends ${target})
    list(APPEND staged ${path})
  endforeach()
  set(stamp ${CMAKE_BINARY_DIR}/product/${flavor}/staged.stamp)
  add_custom_command(OUTPUT ${stamp}
    ${copy_commands}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${copy_depends}
    COMMENT "Staging the ${flavor} product files (${version})"
    VERBATIM)
  add_custom_target(product_stage_${flavor} DEPENDS ${stamp} ${data_outputs})

  # mini_installer's resources: 1 is the file list, 100 onwards the files.
  foreach(entry ${OKU_PRODUCT_DATA_FILES})
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 path)
    list(APPEND staged ${version}/${path})
  endforeach()
  foreach(library lantern_sdk tessel)
    if(NOT TARGET ${library})
      list(APPEND staged ${version}/${library}.dll)
    endif()
  endforeach()
  set(manifest ${CMAKE_CURRENT_BINARY_DIR}/mini_installer_${flavor}_files.txt)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/mini_installer_${flavor}_payload.rc)
  set(manifest_text "")
  set(rc_text "1 RCDATA \"${manifest}\"\n")
  set(id 100)
  foreach(path ${staged})
    string(APPEND manifest_text "${id} ${path}\n")
    string(APPEND rc_text "${id} RCDATA \"${stage}/${path}\"\n")
    math(EXPR id "${id} + 1")
  endforeach()
  file(CONFIGURE OUTPUT ${manifest} CONTENT "${manifest_text}")
  file(CONFIGURE OUTPUT ${rc} CONTENT "${rc_text}")
  target_sources(mini_installer_${flavor} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${stamp};${data_outputs};${manifest}")
  add_dependencies(mini_installer_${flavor} product_stage_${flavor})
endfunction()
