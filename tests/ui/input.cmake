# The input engine (key names, buttons, legacy labels) and the requester engine in C++.
lv_add_test(ui_input_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/input_test.cpp
  LIBS lv_ui lv_images lv_raster lv_runtime LABELS ui)
