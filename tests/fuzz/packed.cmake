# Packed streams, ".ini" text and virtual names from arbitrary bytes.
# The normal tree globs test fragments of every folder, this one included:
# only the fuzz tree defines lv_add_fuzzer.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(packed_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/packed_fuzz.cpp LIBS lv_runtime
                CORPUS ${CMAKE_CURRENT_LIST_DIR}/packed_corpus)
endif()
