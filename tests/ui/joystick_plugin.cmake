# Joysticks read by applets: the joystick test plug-in (tests/plugins/joyplugin.cpp) moves
# SDL virtual joysticks inside a copy of the runtime, applets read them back.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LV_JOY_SDL2 REQUIRED IMPORTED_TARGET sdl2)
add_library(testplugin_joyplug MODULE ${CMAKE_SOURCE_DIR}/tests/plugins/joyplugin.cpp)
target_link_libraries(testplugin_joyplug PRIVATE PkgConfig::LV_JOY_SDL2)
set_target_properties(testplugin_joyplug PROPERTIES
  PREFIX "" OUTPUT_NAME joyplug SUFFIX ".lvp"
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/ui/joystick_plugin
  CXX_VISIBILITY_PRESET hidden)
lv_add_test(ui_joystick_plugin_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/joystick_plugin_test.cpp
            LIBS PkgConfig::LV_JOY_SDL2 LABELS ui threads)
add_dependencies(ui_joystick_plugin_test lumivarra lvasm lvlink testplugin_joyplug)
