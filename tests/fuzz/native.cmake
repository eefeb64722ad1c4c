# The native decoder: TIFF and WebP stills and anims with the input's request flags.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(native_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/native_fuzz.cpp LIBS lv_formats
                CORPUS ${CMAKE_CURRENT_LIST_DIR}/native_corpus)
endif()
