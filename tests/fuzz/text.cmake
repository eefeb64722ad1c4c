lv_add_fuzzer(platform_text_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_fuzz.cpp LIBS lv_platform)
