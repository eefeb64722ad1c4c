# GIF files: the reader opened with the input's flags, then frames read in an order the
# input chooses, and the still decoder.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(gif_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/gif_fuzz.cpp LIBS lv_formats
                CORPUS ${CMAKE_CURRENT_LIST_DIR}/gif_corpus)
endif()
