lv_add_fuzzer(rtext_text_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/rtext_text_fuzz.cpp LIBS lv_runtime)
