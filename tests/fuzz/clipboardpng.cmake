# Only the fuzz tree defines lv_add_fuzzer; the normal tree also reads this folder.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(ui_clipboardpng_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/clipboardpng_fuzz.cpp
                LIBS lv_ui lv_images lv_raster lv_runtime CORPUS ${CMAKE_CURRENT_LIST_DIR}/clipboardpng_corpus)
endif()
