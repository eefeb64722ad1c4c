# The numeric paths of drawing: draw, graphics, clip-region, palette, brush and offscreen
# commands called with extreme and non-finite numbers. The normal test tree reads every
# tests/*/*.cmake too, where no fuzzer can be built.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(drawnumbers_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/drawnumbers_fuzz.cpp
                LIBS lv_images lv_raster lv_runtime lv_libs lv_vm CORPUS ${CMAKE_CURRENT_LIST_DIR}/drawnumbers_corpus)
endif()
