lv_add_test(ui_events_dispatch_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/events_dispatch_test.cpp LIBS lv_ui LABELS ui threads)
lv_add_test(ui_events_owners_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/events_owners_test.cpp LIBS lv_ui lv_libs LABELS ui threads)
