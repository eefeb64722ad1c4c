# The assembler (lvasm) and the chunk reader and printer behind lvdis.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(asm_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/asm_fuzz.cpp
    LIBS lv_asm
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/asm_corpus)
  lv_add_fuzzer(lvdis_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/lvdis_fuzz.cpp
    LIBS lv_asm
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/vm_load_corpus)
endif()
