# Palettes, brushes and background pictures: engine tests linked against lv_images, and
# applets written by the tests, assembled and linked with the built tools and run by the
# runtime executable.
lv_add_test(images_palette_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_palette_test.cpp
  LIBS lv_images LABELS images)
lv_add_test(images_palette_applet_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_palette_applet_test.cpp
  LIBS lv_formats_fixtures LABELS images)
add_dependencies(images_palette_applet_test lumivarra lvasm lvlink)
lv_add_test(images_brush_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_brush_test.cpp
  LIBS lv_images lv_raster_fakes LABELS images)
lv_add_test(images_brush_applet_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_brush_applet_test.cpp
  LIBS lv_formats_fixtures LABELS images)
add_dependencies(images_brush_applet_test lumivarra lvasm lvlink)
lv_add_test(images_preload_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_preload_test.cpp
  LIBS lv_formats_fixtures LABELS images)
add_dependencies(images_preload_test lumivarra lvasm lvlink)
lv_add_test(images_brush_edit_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_brush_edit_test.cpp
  LIBS lv_images lv_raster_fakes LABELS images)
lv_add_test(images_brush_edit_applet_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_brush_edit_applet_test.cpp
  LIBS lv_formats_fixtures LABELS images)
add_dependencies(images_brush_edit_applet_test lumivarra lvasm lvlink)
lv_add_test(images_load_formats_applet_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_load_formats_applet_test.cpp
  LIBS lv_formats_fixtures LABELS images)
target_link_libraries(images_load_formats_applet_test PRIVATE TIFF::TIFF PkgConfig::LV_WEBP_WRITE)
add_dependencies(images_load_formats_applet_test lumivarra lvasm lvlink)
# The pixel painter, the coverage rasteriser and the plug-in drawing entries.
lv_add_test(images_paint_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_paint_test.cpp
  LIBS lv_images LABELS images)
# The same tests on the painter built without its SSE2 blocks (the plain loops other
# machines run); its own copy of paint.cpp stands before the library's.
add_executable(images_paint_plain_test ${CMAKE_CURRENT_LIST_DIR}/images_paint_test.cpp
  ${CMAKE_SOURCE_DIR}/images/paint.cpp)
target_link_libraries(images_paint_plain_test PRIVATE lv_images GTest::gtest GTest::gtest_main Threads::Threads)
target_compile_definitions(images_paint_plain_test PRIVATE LV_PAINT_PLAIN)
gtest_discover_tests(images_paint_plain_test TEST_PREFIX "Plain." DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS images TIMEOUT 300)
lv_add_test(images_shape_outline_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_shape_outline_test.cpp
  LIBS lv_images LABELS images)
lv_add_test(images_shape_render_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_shape_render_test.cpp
  LIBS lv_images LABELS images)
lv_add_test(images_shape_layer_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_shape_layer_test.cpp
  LIBS lv_images LABELS images)
# A test plug-in reaches brushes through the interface table's brush slots.
lv_add_test(images_brush_plugin_applet_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_brush_plugin_applet_test.cpp
  LIBS lv_formats_fixtures LABELS images)
target_compile_definitions(images_brush_plugin_applet_test PRIVATE LV_TESTPLUGIN_DIR="${CMAKE_BINARY_DIR}/testplugins")
add_dependencies(images_brush_plugin_applet_test lumivarra lvasm lvlink testplugin_brushslots)
lv_add_test(images_brush_plugin_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_brush_plugin_test.cpp
  LIBS lv_images LABELS images)
lv_add_test(images_palette_display_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_palette_display_test.cpp
  LIBS lv_images LABELS images)
# The draw library's shapes, lines and pixels as an applet draws them.
lv_add_test(images_draw_applet_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_draw_applet_test.cpp
  LIBS lv_formats_fixtures LABELS images)
add_dependencies(images_draw_applet_test lumivarra lvasm lvlink)
# The draw tags' filters and transparency on shapes, lines and paths.
lv_add_test(images_draw_filters_applet_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_draw_filters_applet_test.cpp
  LIBS lv_formats_fixtures LABELS images)
add_dependencies(images_draw_filters_applet_test lumivarra lvasm lvlink)
lv_add_test(images_line_geometry_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_line_geometry_test.cpp
  LIBS lv_images LABELS images)
lv_add_test(images_brush_convert_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_brush_convert_test.cpp
  LIBS lv_images LABELS images)
lv_add_test(images_brush_commands_oom_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_brush_commands_oom_test.cpp ${CMAKE_SOURCE_DIR}/tests/runtime/rtcmds_util.cpp
  LIBS lv_images lv_raster_fakes lv_runtime lv_vm lv_asm LABELS images)
