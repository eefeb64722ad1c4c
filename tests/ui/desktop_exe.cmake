# Applets on a desktop: the test starts its own Xvfb and acts through other programs
# (xclip, xdotool); the runtime's windows stay offscreen, its clipboard and message
# boxes use the X server.
file(GLOB LV_DESKTOP_EXE_FIXTURES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/desktop_exe_fixtures/*.lvs)
set(LV_DESKTOP_EXE_APPLETS "")
foreach(src ${LV_DESKTOP_EXE_FIXTURES})
  get_filename_component(stem ${src} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/tests/ui/desktop_exe/${stem})
  lv_assemble(OUTPUT ${out}.lvc SOURCE ${src} LABELS ${out}.labels)
  lv_make_applet(OUTPUT ${out}.lva CHUNK ${out}.lvc LABELS ${out}.labels TARGET desktop_exe_applet_${stem}
                 ARGS --display 1:320x240:0x336699:0x400:One)
  list(APPEND LV_DESKTOP_EXE_APPLETS desktop_exe_applet_${stem})
endforeach()
lv_add_test(ui_desktop_exe_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/desktop_exe_test.cpp
  LIBS lv_ui lv_images lv_raster lv_runtime LABELS ui threads)
add_dependencies(ui_desktop_exe_test lumivarra ${LV_DESKTOP_EXE_APPLETS})
