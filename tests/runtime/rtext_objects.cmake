lv_add_test(rtext_objects_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/rtext_objects_test.cpp LIBS lv_runtime LABELS runtime)
