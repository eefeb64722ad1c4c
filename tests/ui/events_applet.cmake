lv_add_test(ui_events_applet_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/events_applet_test.cpp LIBS lv_ui lv_asm LABELS ui threads)
