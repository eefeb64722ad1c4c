lv_add_test(platform_clock_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/clock_test.cpp LIBS lv_platform LABELS platform)
