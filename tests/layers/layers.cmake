# Layers: the list and its records as C++ tables against lv_layers, and applets run by
# the runtime executable that draw with layers on and read the composed display back.
lv_add_test(layers_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/layers_test.cpp LIBS lv_layers LABELS layers)
lv_add_test(layers_applet_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/layers_applet_test.cpp
  LIBS lv_formats_fixtures LABELS layers)
add_dependencies(layers_applet_test lumivarra lvasm lvlink)
