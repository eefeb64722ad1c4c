# The pieces of a run working together: a native iterator's error code in the machine, and
# whole runs of the runtime executable on applets made at build time (error handlers, errors
# only recorded, Error's own text, GetErrorName, an ISO-8859-1 applet's string commands).
lv_add_test(integ_iterator_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/integ_iterator_test.cpp ${CMAKE_SOURCE_DIR}/tests/vm/vm_test_util.cpp
  LIBS lv_vm lv_asm
  LABELS vm)

# The applets: each fixture assembled and made into a container in build/tests/integ.
set(LV_INTEG_DIR ${CMAKE_BINARY_DIR}/tests/integ)
set(LV_INTEG_APPLETS "")
foreach(stem handler recorded custom names latin1)
  lv_assemble(OUTPUT ${LV_INTEG_DIR}/${stem}.lvc SOURCE ${CMAKE_CURRENT_LIST_DIR}/integ_fixtures/${stem}.lvs)
  set(args "")
  if(stem STREQUAL "latin1")
    set(args --encoding latin1)
  endif()
  lv_make_applet(OUTPUT ${LV_INTEG_DIR}/${stem}.lva CHUNK ${LV_INTEG_DIR}/${stem}.lvc ARGS ${args})
  list(APPEND LV_INTEG_APPLETS ${LV_INTEG_DIR}/${stem}.lva)
endforeach()
add_custom_target(integ_applets DEPENDS ${LV_INTEG_APPLETS})

lv_add_test(integ_run_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/integ_run_test.cpp
  LIBS lv_platform
  LABELS platform threads)
add_dependencies(integ_run_test lumivarra integ_applets)
