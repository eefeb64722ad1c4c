# Transition effects: every built effect on headless displays (frames, pixels, seeking,
# seeds), the classes and maps, and the commands run by the runtime executable.
lv_add_test(fx_effects_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/fx_effects_test.cpp
  LIBS lv_fx lv_ui lv_images lv_raster lv_runtime LABELS fx)
lv_add_test(fx_commands_applet_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/fx_commands_applet_test.cpp
  LIBS lv_formats_fixtures LABELS fx)
add_dependencies(fx_commands_applet_test lumivarra lvasm lvlink)
