# Input applets run by the built runtime: buttons, legacy labels, ports between two runs.
file(GLOB LV_INPUT_EXE_FIXTURES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/input_exe_fixtures/*.lvs)
set(LV_INPUT_EXE_APPLETS "")
foreach(src ${LV_INPUT_EXE_FIXTURES})
  get_filename_component(stem ${src} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/tests/ui/input_exe/${stem})
  lv_assemble(OUTPUT ${out}.lvc SOURCE ${src} LABELS ${out}.labels)
  lv_make_applet(OUTPUT ${out}.lva CHUNK ${out}.lvc LABELS ${out}.labels TARGET input_exe_applet_${stem}
                 ARGS --display 1:320x240:0x336699:0x400:One)
  list(APPEND LV_INPUT_EXE_APPLETS input_exe_applet_${stem})
endforeach()
lv_add_test(ui_input_exe_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/input_exe_test.cpp LABELS ui threads)
add_dependencies(ui_input_exe_test lumivarra testadapter_plugin ${LV_INPUT_EXE_APPLETS})
target_compile_definitions(ui_input_exe_test PRIVATE LV_TESTPLUGIN_DIR="${CMAKE_BINARY_DIR}/testplugins")
# The message-port adapter of the tests: ports inside one program, delivered through
# adapter event 15.
add_library(testipc_plugin MODULE ${CMAKE_SOURCE_DIR}/tests/plugins/testipc.cpp)
set_target_properties(testipc_plugin PROPERTIES
  PREFIX "" OUTPUT_NAME testipc SUFFIX ".lvp"
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testplugins
  CXX_VISIBILITY_PRESET hidden)
target_include_directories(testipc_plugin PRIVATE ${CMAKE_SOURCE_DIR})
add_dependencies(ui_input_exe_test testipc_plugin)
