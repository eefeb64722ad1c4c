# Only the fuzz build (-DLV_FUZZ=ON) defines lv_add_fuzzer; the normal build's fragment
# glob reaches this folder too.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(rtext_text_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/rtext_text_fuzz.cpp LIBS lv_runtime
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/rtext_text_corpus)
endif()
