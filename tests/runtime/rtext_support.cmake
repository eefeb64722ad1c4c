lv_add_test(rtext_support_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/rtext_support_test.cpp LIBS lv_runtime LABELS runtime parse)
