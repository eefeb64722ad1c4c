# IFF ILBM and PBM pictures with the input's request flags, caller palette and colour key.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(ilbm_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/ilbm_fuzz.cpp LIBS lv_formats
                CORPUS ${CMAKE_CURRENT_LIST_DIR}/ilbm_corpus)
endif()
