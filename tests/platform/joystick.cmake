lv_add_test(platform_joystick_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/joystick_test.cpp LIBS lv_platform LABELS platform threads)
