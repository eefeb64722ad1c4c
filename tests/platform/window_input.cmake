lv_add_test(platform_window_input_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_input_test.cpp LIBS lv_platform
  LABELS platform)
lv_add_test(platform_window_sdl_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_sdl_test.cpp LIBS lv_platform
  LABELS platform threads)
