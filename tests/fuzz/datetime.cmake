# Date and time text readers (ParseDate, ValidateDate, CompareDates, DateToUTC, ...).
# Only the fuzz tree defines lv_add_fuzzer; the normal tree reads this folder too.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(datetime_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/datetime_fuzz.cpp
    LIBS lv_libs
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/datetime_corpus)
endif()
