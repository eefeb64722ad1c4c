# Engines of the string library: digests, text operations, patterns, expressions.
lv_add_test(libs_digest_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/digest_test.cpp LIBS lv_libs LABELS libs parse)
lv_add_test(libs_pattern_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/pattern_test.cpp LIBS lv_libs LABELS libs parse)
lv_add_test(libs_eval_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/eval_test.cpp LIBS lv_libs LABELS libs parse)
lv_add_test(libs_strings_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/strings_test.cpp LIBS lv_libs LABELS libs parse)
