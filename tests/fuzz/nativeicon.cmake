# The native icon reader on crafted pictures (a size, the alpha switch, then ARGB words)
# and the same bytes as a stored tool type.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(ui_nativeicon_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/nativeicon_fuzz.cpp LIBS lv_ui
                  CORPUS ${CMAKE_CURRENT_LIST_DIR}/nativeicon_corpus)
endif()
