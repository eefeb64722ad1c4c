lv_add_test(platform_threads_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/threads_test.cpp LIBS lv_platform LABELS platform threads)
lv_add_test(platform_sysevents_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/sysevents_test.cpp LIBS lv_platform LABELS platform threads)
