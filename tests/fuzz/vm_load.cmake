# Bytecode loader over arbitrary bytes; seeds are chunks made by lvasm.
# The normal test tree reads every tests/*/*.cmake too, where no fuzzer can be built.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(vm_load_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/vm_load_fuzz.cpp
    LIBS lv_vm
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/vm_load_corpus)
endif()
