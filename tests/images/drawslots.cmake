# Graphics slots 24 and 31 from a plug-in: the test plug-in's "drawslots" variant draws
# into its own buffer from a linked program; the test compares its checksum with the
# engine's own drawing of the same lines and polygons.
set(LV_DRAWSLOTS_DIR ${CMAKE_BINARY_DIR}/testplugins)
add_library(testplugin_drawslots MODULE ${CMAKE_SOURCE_DIR}/tests/plugins/testplugin.cpp)
target_compile_definitions(testplugin_drawslots PRIVATE LVT_DRAW)
set_target_properties(testplugin_drawslots PROPERTIES
  PREFIX "" OUTPUT_NAME drawslots SUFFIX ".lvp"
  LIBRARY_OUTPUT_DIRECTORY ${LV_DRAWSLOTS_DIR}
  CXX_VISIBILITY_PRESET hidden)
lv_assemble(OUTPUT ${LV_DRAWSLOTS_DIR}/draw_slots_applet.lvc SOURCE ${CMAKE_SOURCE_DIR}/tests/plugins/draw_slots_applet.lvs)
lv_make_applet(OUTPUT ${LV_DRAWSLOTS_DIR}/draw_slots_applet.lva CHUNK ${LV_DRAWSLOTS_DIR}/draw_slots_applet.lvc
  TARGET applet_draw_slots_test ARGS --object 12:1:drawslots)
lv_add_test(images_draw_slots_applet_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_draw_slots_applet_test.cpp
  LIBS lv_images LABELS images)
target_compile_definitions(images_draw_slots_applet_test PRIVATE LV_DRAWSLOTS_DIR="${LV_DRAWSLOTS_DIR}")
add_dependencies(images_draw_slots_applet_test testplugin_drawslots applet_draw_slots_test lumivarra lvlink)
