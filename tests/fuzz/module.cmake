# ProTracker modules: validation, the player's unpacking, mixing with seeks and jumps.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(module_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/module_fuzz.cpp LIBS lv_media
                CORPUS ${CMAKE_CURRENT_LIST_DIR}/module_corpus)
endif()
