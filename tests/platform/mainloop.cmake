lv_add_test(platform_mainloop_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/mainloop_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tray_test.cpp LIBS lv_platform LABELS platform threads)
