# Engines of the math, table, memory-block and time libraries.
lv_add_test(libs_math_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/core2_math_test.cpp LIBS lv_libs LABELS libs)
lv_add_test(libs_table_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/core2_table_test.cpp LIBS lv_libs LABELS libs)
lv_add_test(libs_memblock_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/core2_memblock_test.cpp LIBS lv_libs LABELS libs)
lv_add_test(libs_time_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/core2_time_test.cpp LIBS lv_libs LABELS libs parse)
lv_add_test(libs_core2_userdata_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/strlib_harness.cpp ${CMAKE_CURRENT_LIST_DIR}/core2_userdata_test.cpp
  LIBS lv_libs lv_asm
  LABELS libs vm)
