# Text readers of the file commands (ReadLine, ReadString, ReadChr) in every encoding.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(textread_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/textread_fuzz.cpp
    LIBS lv_libs
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/textread_corpus)
endif()
