# The desktop dialogs over GTK3 on a real X server: the test starts Xvfb, loads the dialog
# module built beside the runtime and answers each dialog through GTK once it is mapped.
if(TARGET lv_gtkdialogs)
  lv_add_test(ui_requesters_gtk_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/requesters_gtk_test.cpp
    LIBS lv_ui lv_images lv_raster lv_runtime PkgConfig::LV_GTK3 LABELS ui threads)
  add_dependencies(ui_requesters_gtk_test lv_gtkdialogs)
endif()
