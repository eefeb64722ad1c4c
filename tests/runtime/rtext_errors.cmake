lv_add_test(rtext_errors_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/rtext_errors_test.cpp LIBS lv_runtime LABELS runtime parse)
