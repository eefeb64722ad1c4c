# The CDXL reader over arbitrary bytes: open, read and decode every packet, seek.
# Only the fuzz tree defines lv_add_fuzzer.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(cdxl_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/cdxl_fuzz.cpp
    LIBS lv_media
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/cdxl_corpus)
endif()
