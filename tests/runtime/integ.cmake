# The pieces of a run working together: a native iterator's error code in the machine.
lv_add_test(integ_iterator_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/integ_iterator_test.cpp ${CMAKE_SOURCE_DIR}/tests/vm/vm_test_util.cpp
  LIBS lv_vm lv_asm
  LABELS vm)
