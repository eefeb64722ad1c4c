# The registry store's value files.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(regstore_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/regstore_fuzz.cpp
    LIBS lv_platform
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/regstore_corpus)
endif()
