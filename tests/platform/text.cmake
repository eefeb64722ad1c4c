lv_add_test(platform_text_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_test.cpp LIBS lv_platform LABELS platform)
