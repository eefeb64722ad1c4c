# Commands of the math, table, memblock, time and system libraries, called through the
# machine: a C++ harness over the registered globals and assembled script fixtures.
file(GLOB LV_CORELIB2_FIXTURES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/corelib2_fixtures/*.lvs)
set(LV_CORELIB2_CHUNKS "")
foreach(src ${LV_CORELIB2_FIXTURES})
  get_filename_component(stem ${src} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/tests/libs/corelib2_fixtures/${stem}.lvc)
  lv_assemble(OUTPUT ${out} SOURCE ${src})
  list(APPEND LV_CORELIB2_CHUNKS ${out})
endforeach()
add_custom_target(corelib2_fixtures ALL DEPENDS ${LV_CORELIB2_CHUNKS})

lv_add_test(libs_corelib2_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/corelib2_test.cpp ${CMAKE_CURRENT_LIST_DIR}/corelib2_harness.cpp
  LIBS lv_libs LABELS libs vm)
add_dependencies(libs_corelib2_test corelib2_fixtures)
# Waits that serve events: the platform's timer queue and main loop, and the event
# library's intervals.
lv_add_test(libs_corelib2_wait_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/corelib2_wait_test.cpp ${CMAKE_CURRENT_LIST_DIR}/corelib2_harness.cpp
  LIBS lv_libs lv_ui LABELS libs vm threads)
add_dependencies(libs_corelib2_wait_test corelib2_fixtures)
