# Named message ports: two processes (a forked owner) on Unix sockets.
lv_add_test(ui_ports_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ports_test.cpp
  LIBS lv_ui lv_images lv_raster lv_runtime LABELS ui threads)
