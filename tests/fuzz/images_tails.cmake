# The applet container reader with the tail readers of linked palettes, brushes and
# background pictures registered; seeds are containers lvlink made with each of them.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(images_tails_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_tails_fuzz.cpp
    LIBS lv_images
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/images_tails_corpus)
endif()
