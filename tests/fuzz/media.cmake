# The RIFF WAVE and IFF 8SVX/16SV readers over arbitrary bytes: open, read in pieces,
# seek, and load whole. Only the fuzz tree defines lv_add_fuzzer.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(media_samples_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/media_samples_fuzz.cpp
    LIBS lv_media
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/media_corpus)
endif()
