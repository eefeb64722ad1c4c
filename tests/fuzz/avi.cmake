# AVI files, with frames decoded in an order the input chooses.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(avi_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/avi_fuzz.cpp LIBS lv_formats
                CORPUS ${CMAKE_CURRENT_LIST_DIR}/avi_corpus)
endif()
