# The dos library as a user meets it: applets assembled from dos_exe_fixtures/*.lvs at
# build time and run by the built runtime executable (stop signals during long commands,
# programs linked into the applet, async operations as objects).
file(GLOB LV_DOS_EXE_FIXTURES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/dos_exe_fixtures/*.lvs)
set(LV_DOS_EXE_APPLETS "")
foreach(src ${LV_DOS_EXE_FIXTURES})
  get_filename_component(stem ${src} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/tests/libs/dos_exe/${stem})
  set(extra "")
  if(stem STREQUAL "linked_tool")
    set(extra ARGS --file tool.sh=${CMAKE_CURRENT_LIST_DIR}/dos_exe_fixtures/tool.sh
              DEPENDS ${CMAKE_CURRENT_LIST_DIR}/dos_exe_fixtures/tool.sh)
  endif()
  lv_assemble(OUTPUT ${out}.lvc SOURCE ${src} LABELS ${out}.labels)
  lv_make_applet(OUTPUT ${out}.lva CHUNK ${out}.lvc LABELS ${out}.labels
                 TARGET dos_exe_applet_${stem} ${extra})
  list(APPEND LV_DOS_EXE_APPLETS dos_exe_applet_${stem})
endforeach()
lv_add_test(libs_dos_exe_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/dos_exe_test.cpp LABELS libs threads)
add_dependencies(libs_dos_exe_test lumivarra ${LV_DOS_EXE_APPLETS})
