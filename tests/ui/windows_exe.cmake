# Displays as SDL2 windows (offscreen driver): applets run by the built runtime without a
# display adapter; each window's last frame is read back and compared.
file(GLOB LV_WINDOWS_EXE_FIXTURES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/windows_exe_fixtures/*.lvs)
set(LV_WINDOWS_EXE_APPLETS "")
foreach(src ${LV_WINDOWS_EXE_FIXTURES})
  get_filename_component(stem ${src} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/tests/ui/windows_exe/${stem})
  lv_assemble(OUTPUT ${out}.lvc SOURCE ${src} LABELS ${out}.labels)
  lv_make_applet(OUTPUT ${out}.lva CHUNK ${out}.lvc LABELS ${out}.labels
                 TARGET windows_exe_applet_${stem}
                 ARGS --display 1:320x240:0x336699:0x400:One --display 2:100x80:0xFF0000:0x800:Two)
  list(APPEND LV_WINDOWS_EXE_APPLETS windows_exe_applet_${stem})
endforeach()
lv_add_test(ui_windows_exe_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/windows_exe_test.cpp LABELS ui threads)
add_dependencies(ui_windows_exe_test lumivarra ${LV_WINDOWS_EXE_APPLETS})
target_link_libraries(ui_windows_exe_test PRIVATE ZLIB::ZLIB)
# The same windows on a real X server: Xvfb started by the test, input through XTest.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LV_XTST IMPORTED_TARGET xtst x11)
if(LV_XTST_FOUND)
  lv_add_test(ui_windows_xvfb_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/windows_xvfb_test.cpp LABELS ui threads SERIAL)
  add_dependencies(ui_windows_xvfb_test lumivarra ${LV_WINDOWS_EXE_APPLETS})
  target_link_libraries(ui_windows_xvfb_test PRIVATE PkgConfig::LV_XTST)
endif()
# Remembered placement across runs on the X server: one applet identifier, the display
# declared with rememberposition, once more with sizeable as well.
if(LV_XTST_FOUND)
  set(LV_PLACEMENT_OUT ${CMAKE_BINARY_DIR}/tests/ui/placement)
  lv_assemble(OUTPUT ${LV_PLACEMENT_OUT}/place.lvc SOURCE ${CMAKE_CURRENT_LIST_DIR}/placement_fixtures/place.lvs
              LABELS ${LV_PLACEMENT_OUT}/place.labels)
  foreach(variant place:0x8000400 placesizeable:0x8000402)
    string(REPLACE ":" ";" parts ${variant})
    list(GET parts 0 stem)
    list(GET parts 1 flags)
    lv_make_applet(OUTPUT ${LV_PLACEMENT_OUT}/${stem}.lva CHUNK ${LV_PLACEMENT_OUT}/place.lvc
                   LABELS ${LV_PLACEMENT_OUT}/place.labels TARGET placement_applet_${stem}
                   ARGS --identifier org.lumivarra.placementxvfb --display 1:200x150:0x00FF00:${flags}:Placed)
    add_dependencies(ui_windows_xvfb_test placement_applet_${stem})
  endforeach()
endif()
