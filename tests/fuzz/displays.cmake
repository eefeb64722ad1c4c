# Stored display records (a container's linked displays) and stored gradients over
# arbitrary bytes; the seeds are records lvlink writes.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(display_record_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/display_record_fuzz.cpp
    LIBS lv_ui
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/display_record_corpus)
endif()
