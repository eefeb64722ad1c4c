# Tests of the runtime's command support, its host services and the core command
# libraries, through chunks run by the machine. Label "vm": CI runs them again under
# ASan+UBSan.
set(LV_RTCMDS_FIXTURES "")
file(GLOB LV_RTCMDS_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/rtcmds_fixtures/*.lvs)
foreach(src ${LV_RTCMDS_SOURCES})
  get_filename_component(stem ${src} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/tests/runtime/rtcmds_fixtures/${stem}.lvc)
  lv_assemble(OUTPUT ${out} SOURCE ${src})
  list(APPEND LV_RTCMDS_FIXTURES ${out})
endforeach()
add_custom_target(rtcmds_fixtures ALL DEPENDS ${LV_RTCMDS_FIXTURES})

lv_add_test(rtcmds_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/rtcmds_util.cpp
          ${CMAKE_CURRENT_LIST_DIR}/rtcmds_base_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/rtcmds_errors_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/rtcmds_support_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/rtcmds_objects_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/rtcmds_compress_test.cpp
  LIBS lv_runtime lv_vm lv_asm
  LABELS runtime vm)
add_dependencies(rtcmds_test rtcmds_fixtures)

# The whole suite again with a collection at every collection point and every stack
# moved on each grow or shrink.
add_test(NAME rtcmds_torture_suite COMMAND rtcmds_test)
set_tests_properties(rtcmds_torture_suite PROPERTIES
  ENVIRONMENT "LV_VM_TORTURE=1;LV_VM_MOVESTACK=1" LABELS "runtime-vm" TIMEOUT 300)
