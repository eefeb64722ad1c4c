# The filter chain's order and arguments, through a recording effect table.
lv_add_test(raster_filterchain_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/raster_filterchain_test.cpp LIBS lv_raster LABELS raster)
