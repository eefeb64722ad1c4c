# The sound test plug-in (tests/plugins/testsound.cpp): decoder, saver and audio adapter,
# with applets from media_plugin_applets/*.lvs that link it as a plug-in object, so that
# start-up requires it while adapters may install. The test runs a copy of the runtime
# with the plug-in in its "Plugins" folder.
add_library(testplugin_testsound MODULE ${CMAKE_SOURCE_DIR}/tests/plugins/testsound.cpp)
target_link_libraries(testplugin_testsound PRIVATE Threads::Threads)
set_target_properties(testplugin_testsound PROPERTIES
  PREFIX "" OUTPUT_NAME testsound SUFFIX ".lvp"
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/media/plugin
  CXX_VISIBILITY_PRESET hidden)
file(GLOB LV_MEDIA_PLUGIN_FIXTURES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/media_plugin_applets/*.lvs)
set(LV_MEDIA_PLUGIN_APPLETS "")
foreach(src ${LV_MEDIA_PLUGIN_FIXTURES})
  get_filename_component(stem ${src} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/tests/media/plugin/${stem})
  lv_assemble(OUTPUT ${out}.lvc SOURCE ${src} LABELS ${out}.labels)
  lv_make_applet(OUTPUT ${out}.lva CHUNK ${out}.lvc LABELS ${out}.labels
                 TARGET media_plugin_applet_${stem} ARGS --object 12:1:testsound)
  list(APPEND LV_MEDIA_PLUGIN_APPLETS media_plugin_applet_${stem})
endforeach()
lv_add_test(media_plugin_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/media_plugin_test.cpp ${CMAKE_CURRENT_LIST_DIR}/media_fixtures.cpp
          ${CMAKE_CURRENT_LIST_DIR}/module_fixture.cpp
  LIBS lv_media
  LABELS media threads)
add_dependencies(media_plugin_test lumivarra testplugin_testsound ${LV_MEDIA_PLUGIN_APPLETS})
