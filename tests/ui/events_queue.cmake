lv_add_test(ui_events_queue_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/events_queue_test.cpp LIBS lv_ui LABELS ui threads)
