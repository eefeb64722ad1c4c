# The console library as a user meets it: applets assembled from console_fixtures/*.lvs
# (those named latin1* as ISO-8859-1 applets), run by the built runtime over pipes, a
# pseudo-terminal and tmux.
file(GLOB LV_CONSOLE_FIXTURES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/console_fixtures/*.lvs)
set(LV_CONSOLE_APPLETS "")
foreach(src ${LV_CONSOLE_FIXTURES})
  get_filename_component(stem ${src} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/tests/ui/console/${stem})
  set(encoding "")
  if(stem MATCHES "^latin1")
    set(encoding ARGS --encoding latin1)
  endif()
  lv_assemble(OUTPUT ${out}.lvc SOURCE ${src} LABELS ${out}.labels)
  lv_make_applet(OUTPUT ${out}.lva CHUNK ${out}.lvc LABELS ${out}.labels
                 TARGET console_applet_${stem} ${encoding})
  list(APPEND LV_CONSOLE_APPLETS console_applet_${stem})
endforeach()
lv_add_test(ui_console_exe_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/console_exe_test.cpp LABELS ui)
add_dependencies(ui_console_exe_test lumivarra ${LV_CONSOLE_APPLETS})
lv_add_test(ui_console_tmux_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/console_tmux_test.cpp LABELS ui)
add_dependencies(ui_console_tmux_test lumivarra ${LV_CONSOLE_APPLETS})
lv_add_test(ui_console_debughost_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/console_debughost_test.cpp LABELS ui threads)
add_dependencies(ui_console_debughost_test lumivarra ${LV_CONSOLE_APPLETS})
