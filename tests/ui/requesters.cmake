# Requesters: the test requester adapter (a plug-in other tests may require too), the
# engine's helpers and the scripted back-end in C++, and applets run by the built
# runtime against the adapter or the scripted back-end.
add_library(testrequester_plugin MODULE ${CMAKE_SOURCE_DIR}/tests/plugins/testrequester.cpp)
set_target_properties(testrequester_plugin PROPERTIES
  PREFIX "" OUTPUT_NAME testrequester SUFFIX ".lvp"
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testplugins
  CXX_VISIBILITY_PRESET hidden)

lv_add_test(ui_requesters_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/requesters_test.cpp
  LIBS lv_ui lv_images lv_raster lv_runtime LABELS ui)

file(GLOB LV_REQUESTERS_EXE_FIXTURES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/requesters_exe_fixtures/*.lvs)
set(LV_REQUESTERS_EXE_APPLETS "")
foreach(src ${LV_REQUESTERS_EXE_FIXTURES})
  get_filename_component(stem ${src} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/tests/ui/requesters_exe/${stem})
  lv_assemble(OUTPUT ${out}.lvc SOURCE ${src} LABELS ${out}.labels)
  lv_make_applet(OUTPUT ${out}.lva CHUNK ${out}.lvc LABELS ${out}.labels TARGET requesters_exe_applet_${stem}
                 ARGS --title applet)
  list(APPEND LV_REQUESTERS_EXE_APPLETS requesters_exe_applet_${stem})
endforeach()
lv_add_test(ui_requesters_exe_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/requesters_exe_test.cpp LABELS ui)
add_dependencies(ui_requesters_exe_test lumivarra testrequester_plugin ${LV_REQUESTERS_EXE_APPLETS})
target_compile_definitions(ui_requesters_exe_test PRIVATE LV_TESTPLUGIN_DIR="${CMAKE_BINARY_DIR}/testplugins")
