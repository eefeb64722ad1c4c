# Only the fuzz tree defines lv_add_fuzzer; the normal tree also reads this folder.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(text_layout_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/textlayout_fuzz.cpp LIBS lv_text
                  CORPUS ${CMAKE_CURRENT_LIST_DIR}/textlayout_corpus)
endif()
