# The window-mode installation pipeline and its pre-installation checks against the demo product,
# in the prefix's real registry, files, processes and shortcut folders (per-user state: the lock).
add_library(oku_pipeline_test_support STATIC ${OKU_TEST_GROUP_DIR}/pipeline_test_support.cpp)
target_link_libraries(oku_pipeline_test_support PUBLIC setup oku_removal_test_util oku_test_support
  PRIVATE oku_warnings ole32 uuid shell32)

# Carries the installer's payload, so that StartInstallation extracts the real install files.
oku_add_wine_test(setup_pipeline_test
  SOURCES ${OKU_TEST_GROUP_DIR}/pipeline_test.cpp
  LIBS oku_pipeline_test_support
  DEPENDS mini_installer_new oku_compass_new OkuUninstall lantern_sdk tessel lockfile
  LOCKS wine-user-state
  TIMEOUT 900)
oku_payload_attach(setup_pipeline_test)

# Its own version resource (the older product version) is what IsDowngrade falls back to.
oku_add_wine_test(setup_pre_install_checks_test
  SOURCES ${OKU_TEST_GROUP_DIR}/pre_install_checks_test.cpp
  LIBS oku_pipeline_test_support
  DEPENDS mini_installer_old mini_installer_new oku_compass_new OkuUninstall lantern_sdk tessel lockfile
  LOCKS wine-user-state
  TIMEOUT 600)
oku_version_resource(setup_pre_install_checks_test NAME "OkuSetup" FILE "setup_pre_install_checks_test.exe"
  VERSION ${OKU_PRODUCT_VERSION_OLD})

foreach(test setup_pipeline_test setup_pre_install_checks_test)
  target_compile_definitions(${test} PRIVATE
    OKU_PRODUCT_VERSION_OLD=L"${OKU_PRODUCT_VERSION_OLD}"
    OKU_PRODUCT_VERSION_NEW=L"${OKU_PRODUCT_VERSION_NEW}")
endforeach()
