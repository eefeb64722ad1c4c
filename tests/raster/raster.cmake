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
lv_add_test(raster_quantize_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/raster_quantize_test.cpp LIBS lv_raster_fakes LABELS raster)
lv_add_test(raster_gradient_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/raster_gradient_test.cpp LIBS lv_raster_fakes LABELS raster)
lv_add_test(raster_fill_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/raster_fill_test.cpp LIBS lv_raster LABELS raster threads)
lv_add_test(raster_image_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/raster_image_test.cpp LIBS lv_raster_fakes LABELS raster parse)

# The graphics library as a script meets it: applets assembled from
# graphics_fixtures/*.lvs, run by the built runtime executable.
file(GLOB LV_GRAPHICS_FIXTURES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/graphics_fixtures/*.lvs)
set(LV_GRAPHICS_APPLETS "")
foreach(src ${LV_GRAPHICS_FIXTURES})
  get_filename_component(stem ${src} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/tests/raster/graphics/${stem})
  lv_assemble(OUTPUT ${out}.lvc SOURCE ${src})
  lv_make_applet(OUTPUT ${out}.lva CHUNK ${out}.lvc TARGET graphics_applet_${stem})
  list(APPEND LV_GRAPHICS_APPLETS graphics_applet_${stem})
endforeach()
lv_add_test(raster_graphics_exe_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/raster_graphics_exe_test.cpp LABELS raster)
add_dependencies(raster_graphics_exe_test lumivarra ${LV_GRAPHICS_APPLETS})
lv_add_test(raster_drawtags_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/raster_drawtags_test.cpp LIBS lv_raster_fakes LABELS raster parse)
