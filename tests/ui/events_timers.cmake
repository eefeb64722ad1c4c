lv_add_test(ui_events_timers_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/events_timers_test.cpp LIBS lv_ui LABELS ui threads)
