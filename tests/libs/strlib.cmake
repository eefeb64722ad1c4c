# The string library's commands, called as scripts call them: through their
# globals from assembled chunks (the case tables' trampoline and the fixtures
# under strlib_fixtures/, assembled at build time).
set(strlib_chunks "")
foreach(fixture iterate replacers eval)
  set(out ${CMAKE_BINARY_DIR}/tests/libs/strlib_fixtures/${fixture}.lvc)
  lv_assemble(OUTPUT ${out} SOURCE ${CMAKE_CURRENT_LIST_DIR}/strlib_fixtures/${fixture}.lvs)
  list(APPEND strlib_chunks ${out})
endforeach()
add_custom_target(strlib_chunks ALL DEPENDS ${strlib_chunks})
lv_add_test(libs_strlib_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/strlib_harness.cpp
          ${CMAKE_CURRENT_LIST_DIR}/strlib_text_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/strlib_pattern_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/strlib_eval_test.cpp
  LIBS lv_libs lv_asm
  LABELS libs vm)
add_dependencies(libs_strlib_test strlib_chunks)

# Once more with a collection at every collection point and stacks moved on
# every grow or shrink.
add_test(NAME libs_strlib_torture COMMAND libs_strlib_test)
set_tests_properties(libs_strlib_torture PROPERTIES
  ENVIRONMENT "LV_VM_TORTURE=1" LABELS "libs-vm" TIMEOUT 300)
