lv_add_test(platform_process_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/process_test.cpp LIBS lv_platform LABELS platform threads)
