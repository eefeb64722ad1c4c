# Directory trees linked into an applet.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(dirtree_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/dirtree_fuzz.cpp
    LIBS lv_libs
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/dirtree_corpus)
endif()
