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
