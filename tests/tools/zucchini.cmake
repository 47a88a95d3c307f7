# zucchini.exe under Wine: the real program on real files, started the way the installer does.
# Two builds of one small program make an executable old/new pair for it.
foreach(build 1 2)
  add_executable(zucchini_sample_v${build} ${OKU_TEST_GROUP_DIR}/zucchini_sample.cpp)
  target_compile_definitions(zucchini_sample_v${build} PRIVATE SAMPLE_BUILD=${build})
endforeach()
oku_add_wine_test(tools_zucchini_test
  SOURCES ${OKU_TEST_GROUP_DIR}/zucchini_test.cpp
  LIBS zucchini_core
  DEPENDS zucchini zucchini_sample_v1 zucchini_sample_v2
  TIMEOUT 240)
target_compile_definitions(tools_zucchini_test PRIVATE
  "ZUCCHINI_SAMPLE_OLD=\"$<TARGET_FILE:zucchini_sample_v1>\"" "ZUCCHINI_SAMPLE_NEW=\"$<TARGET_FILE:zucchini_sample_v2>\"")
