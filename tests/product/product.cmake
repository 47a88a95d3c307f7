# The demo product under Wine: mini_installer.exe, setup.exe --uninstall and
# setup.exe --uncompressed-archive, against the real registry, files and shortcuts.
oku_add_wine_test(product_installer_test
  SOURCES ${OKU_TEST_GROUP_DIR}/product_installer_test.cpp
  LIBS common oku_test_support version ole32 uuid shell32
  DEPENDS mini_installer_old mini_installer_new product_setup_new
  LOCKS wine-user-state
  TIMEOUT 600)
target_compile_definitions(product_installer_test PRIVATE
  OKU_PRODUCT_VERSION_OLD=L"${OKU_PRODUCT_VERSION_OLD}"
  OKU_PRODUCT_VERSION_NEW=L"${OKU_PRODUCT_VERSION_NEW}")
