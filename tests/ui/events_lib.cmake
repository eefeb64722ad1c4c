lv_add_test(ui_events_lib_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/events_lib_test.cpp LIBS lv_ui LABELS ui threads)
