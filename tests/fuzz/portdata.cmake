# Only the fuzz tree defines lv_add_fuzzer; the normal tree also reads this folder.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(platform_portdata_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/portdata_fuzz.cpp LIBS lv_platform
                  CORPUS ${CMAKE_CURRENT_LIST_DIR}/portdata_corpus)
endif()
