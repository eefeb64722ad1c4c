# MPEG audio pre-scan: ID3v2 tags, frame headers, Xing/Info and VBRI.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(mpegscan_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/mpegscan_fuzz.cpp LIBS lv_media
                CORPUS ${CMAKE_CURRENT_LIST_DIR}/mpegscan_corpus)
endif()
