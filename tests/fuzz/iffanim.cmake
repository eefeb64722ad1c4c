# IFF ANIM files, with frames fetched in an order the input chooses.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(iffanim_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/iffanim_fuzz.cpp LIBS lv_formats
                CORPUS ${CMAKE_CURRENT_LIST_DIR}/iffanim_corpus)
endif()
