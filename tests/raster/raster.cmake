# Raster engine tests: bitmaps and formats, row kernels, rectangles; the blit
# scenario suite also runs under ASan (label "parse").
add_library(lv_raster_fakes STATIC ${CMAKE_CURRENT_LIST_DIR}/raster_fakes.cpp)
target_link_libraries(lv_raster_fakes PUBLIC lv_raster)
lv_add_test(raster_bitmap_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/raster_bitmap_test.cpp LIBS lv_raster_fakes LABELS raster)
lv_add_test(raster_kernels_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/raster_kernels_test.cpp LIBS lv_raster LABELS raster)
lv_add_test(raster_planes_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/raster_planes_test.cpp LIBS lv_raster_fakes LABELS raster)
lv_add_test(raster_rect_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/raster_rect_test.cpp LIBS lv_raster LABELS raster)
lv_add_test(raster_blit_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/raster_blit_test.cpp LIBS lv_raster_fakes LABELS raster parse)
lv_add_test(raster_scale_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/raster_scale_test.cpp LIBS lv_raster_fakes LABELS raster parse)
lv_add_test(raster_image_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/raster_image_test.cpp LIBS lv_raster_fakes LABELS raster parse)
