# Displays: the test display adapter (one source, three variants), the engine's tables in
# C++, and applets run by the built runtime with the adapter required at start-up.
set(LV_TESTADAPTER_DIR ${CMAKE_BINARY_DIR}/testplugins)
foreach(variant testadapter:LVT_DEFAULT testadapterplain:LVT_PLAIN testadapterdb:LVT_HWDOUBLE)
  string(REPLACE ":" ";" parts ${variant})
  list(GET parts 0 stem)
  list(GET parts 1 define)
  add_library(${stem}_plugin MODULE ${CMAKE_SOURCE_DIR}/tests/plugins/testadapter.cpp)
  target_compile_definitions(${stem}_plugin PRIVATE ${define})
  target_link_libraries(${stem}_plugin PRIVATE ZLIB::ZLIB Threads::Threads)
  set_target_properties(${stem}_plugin PROPERTIES
    PREFIX "" OUTPUT_NAME ${stem} SUFFIX ".lvp"
    LIBRARY_OUTPUT_DIRECTORY ${LV_TESTADAPTER_DIR}
    CXX_VISIBILITY_PRESET hidden)
endforeach()

lv_add_test(ui_displays_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/displays_test.cpp ${CMAKE_CURRENT_LIST_DIR}/menus_test.cpp
  LIBS lv_ui lv_images lv_raster lv_runtime LABELS ui)

# Applets: "nodecl_*" declare no display; the others declare display 1 (320x240, colour
# 0x336699, active) and display 2 (hidden).
file(GLOB LV_DISPLAYS_EXE_FIXTURES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/displays_exe_fixtures/*.lvs)
# The late-adapter applet names the adapter's built path.
configure_file(${CMAKE_CURRENT_LIST_DIR}/displays_exe_fixtures/late.lvs.in
  ${CMAKE_BINARY_DIR}/tests/ui/displays_exe/nodecl_late.lvs @ONLY)
list(APPEND LV_DISPLAYS_EXE_FIXTURES ${CMAKE_BINARY_DIR}/tests/ui/displays_exe/nodecl_late.lvs)
set(LV_DISPLAYS_EXE_APPLETS "")
foreach(src ${LV_DISPLAYS_EXE_FIXTURES})
  get_filename_component(stem ${src} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/tests/ui/displays_exe/${stem})
  set(args "")
  if(NOT stem MATCHES "^nodecl_")
    set(args ARGS --display 1:320x240:0x336699:0x400:One --display 2:100x80:0xFF0000:0x800:Two)
  endif()
  if(stem STREQUAL "menus")
    list(APPEND args --menu 3=${CMAKE_CURRENT_LIST_DIR}/displays_exe_fixtures/menus.menu
         DEPENDS ${CMAKE_CURRENT_LIST_DIR}/displays_exe_fixtures/menus.menu)
  endif()
  lv_assemble(OUTPUT ${out}.lvc SOURCE ${src} LABELS ${out}.labels)
  lv_make_applet(OUTPUT ${out}.lva CHUNK ${out}.lvc LABELS ${out}.labels
                 TARGET displays_exe_applet_${stem} ${args})
  list(APPEND LV_DISPLAYS_EXE_APPLETS displays_exe_applet_${stem})
endforeach()
lv_add_test(ui_displays_exe_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/displays_exe_test.cpp LABELS ui threads)
add_dependencies(ui_displays_exe_test lumivarra testadapter_plugin testadapterplain_plugin testadapterdb_plugin
  ${LV_DISPLAYS_EXE_APPLETS})
target_compile_definitions(ui_displays_exe_test PRIVATE LV_TESTADAPTER_DIR="${LV_TESTADAPTER_DIR}")
target_link_libraries(ui_displays_exe_test PRIVATE ZLIB::ZLIB)

# Displays on the platform's windows: letterboxing, resizing by scale mode, refresh
# mode, the vertical-blank sleep, window commands (in-memory windows).
lv_add_test(ui_display_windows_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/display_windows_test.cpp
  LIBS lv_ui lv_images lv_raster lv_runtime LABELS ui)
# Drawing on displays: blits reaching windows, double buffering, Flip, Cls, damage merges.
lv_add_test(ui_display_draw_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/display_draw_test.cpp
  LIBS lv_ui lv_images lv_raster lv_runtime LABELS ui)
# Display modes: full screen, fake full screen, full-screen scale, the asking modes.
lv_add_test(ui_display_modes_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/display_modes_test.cpp
  LIBS lv_ui lv_images lv_raster lv_runtime LABELS ui)
# Display mirrors: attaching, attributes, presented rectangles, input fed back.
lv_add_test(ui_display_mirrors_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/display_mirrors_test.cpp
  LIBS lv_ui lv_images lv_raster lv_runtime LABELS ui threads)
# Remembered placement: osdata checks and the preferences round trip.
lv_add_test(ui_display_placement_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/display_placement_test.cpp
  LIBS lv_ui lv_images lv_raster lv_runtime LABELS ui)
# Video frames queued from threads and presented clipped to the picture.
lv_add_test(ui_display_frames_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/display_frames_test.cpp
  LIBS lv_ui lv_images lv_raster lv_runtime LABELS ui threads)
# The mirror test plug-in, required next to an adapter by the exe tests.
add_library(testplugin_mirrorplug MODULE ${CMAKE_SOURCE_DIR}/tests/plugins/mirrorplugin.cpp)
target_link_libraries(testplugin_mirrorplug PRIVATE Threads::Threads)
set_target_properties(testplugin_mirrorplug PROPERTIES
  PREFIX "" OUTPUT_NAME mirrorplug SUFFIX ".lvp"
  LIBRARY_OUTPUT_DIRECTORY ${LV_TESTADAPTER_DIR}
  CXX_VISIBILITY_PRESET hidden)
add_dependencies(ui_displays_exe_test testplugin_mirrorplug)
