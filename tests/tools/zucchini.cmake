# zucchini.exe under Wine: the real program on real files, started the way the installer does.
oku_add_wine_test(tools_zucchini_test
  SOURCES ${OKU_TEST_GROUP_DIR}/zucchini_test.cpp
  LIBS zucchini_core
  DEPENDS zucchini
  TIMEOUT 240)
