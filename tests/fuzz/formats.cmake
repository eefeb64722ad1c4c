# Picture files from arbitrary bytes: identification, the BMP, PNG and JPEG readers
# through the decoding dispatch over a memory file, the loader chain with the input's
# flags, the JPEG decoder over a memory block, and anim handles over every anim format
# with the anim writer after them.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(formats_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/formats_fuzz.cpp LIBS lv_formats
                CORPUS ${CMAKE_CURRENT_LIST_DIR}/formats_corpus)
endif()
