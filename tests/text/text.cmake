# Text engine tests: the font manager, FreeType faces, the font list and
# system fonts under a fontconfig configuration of their own.
lv_add_test(text_truetype_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_truetype_test.cpp LIBS lv_text LABELS text)
lv_add_test(text_fontlist_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_fontlist_test.cpp LIBS lv_text LABELS text parse)
lv_add_test(text_sysfont_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_sysfont_test.cpp LIBS lv_text LABELS text)
lv_add_test(text_amiga_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_amiga_test.cpp LIBS lv_text LABELS text parse)
