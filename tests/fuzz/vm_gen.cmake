# Differential fuzz target of the verifier: generated functions judged by the machine's
# loader, the assembler's rules and the tests' rule checker, and run when accepted.
# Seeds cover iterator loops with native and script iterators, open calls and coroutines.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(vm_gen_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/vm_gen_fuzz.cpp ${CMAKE_SOURCE_DIR}/tests/tools/asm_verifier.cpp
    LIBS lv_vm lv_asm
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/vm_gen_corpus)
endif()
