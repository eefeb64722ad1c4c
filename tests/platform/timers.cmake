lv_add_test(platform_timers_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/timers_test.cpp LIBS lv_platform LABELS platform threads)
