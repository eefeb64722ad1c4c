# Serial port-name lists (the COM table from lists and the environment).
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(serialnames_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/serialnames_fuzz.cpp
    LIBS lv_platform
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/serialnames_corpus)
endif()
