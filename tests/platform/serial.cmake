lv_add_test(platform_serial_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/serial_test.cpp LIBS lv_platform LABELS platform threads)
