lv_add_test(platform_memory_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/memory_test.cpp LIBS lv_platform LABELS platform threads)
