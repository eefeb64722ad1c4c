# Plug-in events and the timer adapter as a plug-in author meets them: the event test
# plug-in (tests/plugins/eventplugin.cpp) and applets from events_plugin_fixtures/*.lvs
# that link it as a plug-in object, so that start-up requires it while adapters may
# install. The test runs a copy of the runtime with the plug-in beside it.
add_library(testplugin_eventplug MODULE ${CMAKE_SOURCE_DIR}/tests/plugins/eventplugin.cpp)
set_target_properties(testplugin_eventplug PROPERTIES
  PREFIX "" OUTPUT_NAME eventplug SUFFIX ".lvp"
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/ui/events_plugin
  CXX_VISIBILITY_PRESET hidden)
file(GLOB LV_EVENTS_PLUGIN_FIXTURES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/events_plugin_fixtures/*.lvs)
set(LV_EVENTS_PLUGIN_APPLETS "")
foreach(src ${LV_EVENTS_PLUGIN_FIXTURES})
  get_filename_component(stem ${src} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/tests/ui/events_plugin/${stem})
  lv_assemble(OUTPUT ${out}.lvc SOURCE ${src} LABELS ${out}.labels)
  lv_make_applet(OUTPUT ${out}.lva CHUNK ${out}.lvc LABELS ${out}.labels
                 TARGET events_plugin_applet_${stem} ARGS --object 12:1:eventplug)
  list(APPEND LV_EVENTS_PLUGIN_APPLETS events_plugin_applet_${stem})
endforeach()
lv_add_test(ui_events_plugin_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/events_plugin_test.cpp LABELS ui)
add_dependencies(ui_events_plugin_test lumivarra testplugin_eventplug ${LV_EVENTS_PLUGIN_APPLETS})
