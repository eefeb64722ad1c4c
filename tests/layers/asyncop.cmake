lv_add_test(layers_asyncop_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/asyncop_test.cpp LIBS lv_layers LABELS layers)
