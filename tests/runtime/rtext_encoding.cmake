lv_add_test(rtext_encoding_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/rtext_encoding_test.cpp LIBS lv_runtime LABELS runtime parse)
