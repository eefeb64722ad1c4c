# Clipboard pictures: through an in-memory clipboard adapter, and on the X server's
# CLIPBOARD under the test's own Xvfb against xclip (pictures both ways, change notices).
lv_add_test(ui_clipboard_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/clipboard_test.cpp
  LIBS lv_ui lv_images lv_raster lv_runtime LABELS ui threads)
