# The script machine's tests. Label "vm": CI runs them again under ASan+UBSan,
# and vm_torture_test runs the whole suite once more with a collection at every
# collection point and stacks moved on every grow or shrink.
set(LV_VM_TEST_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/vm_test_util.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vm_state_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vm_table_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vm_valueops_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vm_loader_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vm_interp_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vm_api_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vm_runtime_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vm_safety_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/tools/asm_verifier.cpp)
lv_add_test(vm_test SOURCES ${LV_VM_TEST_SOURCES} LIBS lv_vm lv_asm LABELS vm threads)

# The whole suite again with a collection at every collection point and every
# stack moved on each grow or shrink (stale pointers fault under ASan).
add_test(NAME vm_torture_suite COMMAND vm_test)
set_tests_properties(vm_torture_suite PROPERTIES
  ENVIRONMENT "LV_VM_TORTURE=1;LV_VM_MOVESTACK=1" LABELS vm TIMEOUT 600)

# The runtime's line hook on the machine: its timer thread and a stopping thread.
lv_add_test(vm_linehook_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/vm_linehook_test.cpp ${CMAKE_CURRENT_LIST_DIR}/vm_test_util.cpp
  LIBS lv_runtime lv_vm lv_asm LABELS vm threads)
