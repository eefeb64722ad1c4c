# The event library as a user meets it: applets assembled from events_exe_fixtures/*.lvs
# at build time, run by the built runtime executable under a time limit.
file(GLOB LV_EVENTS_EXE_FIXTURES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/events_exe_fixtures/*.lvs)
set(LV_EVENTS_EXE_APPLETS "")
foreach(src ${LV_EVENTS_EXE_FIXTURES})
  get_filename_component(stem ${src} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/tests/ui/events_exe/${stem})
  lv_assemble(OUTPUT ${out}.lvc SOURCE ${src} LABELS ${out}.labels)
  lv_make_applet(OUTPUT ${out}.lva CHUNK ${out}.lvc LABELS ${out}.labels
                 TARGET events_exe_applet_${stem})
  list(APPEND LV_EVENTS_EXE_APPLETS events_exe_applet_${stem})
endforeach()
lv_add_test(ui_events_exe_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/events_exe_test.cpp LABELS ui threads)
add_dependencies(ui_events_exe_test lumivarra ${LV_EVENTS_EXE_APPLETS})
