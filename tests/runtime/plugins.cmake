# Plug-ins: the test plug-ins (one source, built in variants as ".lvp" shared objects),
# the loader, manager, interface table and plugin library tests, and linked programs
# that carry plug-ins.
set(LV_TESTPLUGIN_DIR ${CMAKE_BINARY_DIR}/testplugins)
set(LV_TESTPLUGIN_VARIANTS
  cmdlib:LVT_CMDLIB needs:LVT_NEEDS extplug:LVT_EXT memfs:LVT_MEMFS saver:LVT_SAVER
  wrongname:LVT_WRONGNAME native:LVT_NATIVE toonew:LVT_TOONEW missing:LVT_MISSING
  missingprefixed:LVT_MISSINGPREFIXED badcaps:LVT_BADCAPS initfail:LVT_INITFAIL mixedprefix:LVT_MIXEDPREFIX
  imgloader:LVT_IMGLOADER netadapter:LVT_NETADAPTER slotcheck:LVT_SLOTS
  rasterslots:LVT_RASTER
  brushslots:LVT_BRUSHES
  memfsys:LVT_FSYS
  fonts:LVT_FONTS
  fontjpeg:LVT_FONTJPEG)
set(LV_TESTPLUGIN_TARGETS "")
foreach(variant ${LV_TESTPLUGIN_VARIANTS})
  string(REPLACE ":" ";" parts ${variant})
  list(GET parts 0 stem)
  list(GET parts 1 define)
  add_library(testplugin_${stem} MODULE ${CMAKE_SOURCE_DIR}/tests/plugins/testplugin.cpp)
  target_compile_definitions(testplugin_${stem} PRIVATE ${define})
  set_target_properties(testplugin_${stem} PROPERTIES
    PREFIX "" OUTPUT_NAME ${stem} SUFFIX ".lvp"
    LIBRARY_OUTPUT_DIRECTORY ${LV_TESTPLUGIN_DIR}
    CXX_VISIBILITY_PRESET hidden)
  list(APPEND LV_TESTPLUGIN_TARGETS testplugin_${stem})
endforeach()
# The font and JPEG slots are called through FreeType's and the JPEG library's headers.
find_package(Freetype REQUIRED)
find_package(JPEG REQUIRED)
target_include_directories(testplugin_fontjpeg PRIVATE ${FREETYPE_INCLUDE_DIRS} ${JPEG_INCLUDE_DIRS})

# The in-process script and the applet of the linked programs.
lv_assemble(OUTPUT ${LV_TESTPLUGIN_DIR}/plugins_script.lvc SOURCE ${CMAKE_SOURCE_DIR}/tests/plugins/plugins_script.lvs)
lv_assemble(OUTPUT ${LV_TESTPLUGIN_DIR}/plugins_applet.lvc SOURCE ${CMAKE_SOURCE_DIR}/tests/plugins/plugins_applet.lvs)
# The applet links the command library as a plug-in object: start-up requires it.
lv_make_applet(OUTPUT ${LV_TESTPLUGIN_DIR}/plugins_applet.lva CHUNK ${LV_TESTPLUGIN_DIR}/plugins_applet.lvc
  TARGET applet_plugins_test ARGS --object 12:1:cmdlib)
# The applet that has the slot-checking plug-in check the interface table.
lv_assemble(OUTPUT ${LV_TESTPLUGIN_DIR}/slots_applet.lvc SOURCE ${CMAKE_SOURCE_DIR}/tests/plugins/slots_applet.lvs)
lv_make_applet(OUTPUT ${LV_TESTPLUGIN_DIR}/slots_applet.lva CHUNK ${LV_TESTPLUGIN_DIR}/slots_applet.lvc
  TARGET applet_slots_test ARGS --object 12:1:slotcheck)
# The applet that has the raster-slot plug-in drive the graphics sub-table's raster slots.
lv_assemble(OUTPUT ${LV_TESTPLUGIN_DIR}/raster_slots_applet.lvc SOURCE ${CMAKE_SOURCE_DIR}/tests/plugins/raster_slots_applet.lvs)
lv_make_applet(OUTPUT ${LV_TESTPLUGIN_DIR}/raster_slots_applet.lva CHUNK ${LV_TESTPLUGIN_DIR}/raster_slots_applet.lvc
  TARGET applet_raster_slots_test ARGS --object 12:1:rasterslots)
# The applet that has the font-and-JPEG plug-in call its sub-tables' slots.
lv_assemble(OUTPUT ${LV_TESTPLUGIN_DIR}/fontjpeg_applet.lvc SOURCE ${CMAKE_SOURCE_DIR}/tests/plugins/fontjpeg_applet.lvs)
lv_make_applet(OUTPUT ${LV_TESTPLUGIN_DIR}/fontjpeg_applet.lva CHUNK ${LV_TESTPLUGIN_DIR}/fontjpeg_applet.lvc
  TARGET applet_fontjpeg_test ARGS --object 12:1:fontjpeg)

# The extension library that the linked programs carry; the tests link them with lvlink
# from the runtime the build made.
file(WRITE ${LV_TESTPLUGIN_DIR}/extension.lvl "extension library payload\n")
add_custom_target(plugins_script ALL DEPENDS ${LV_TESTPLUGIN_DIR}/plugins_script.lvc)

lv_add_test(plugins_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/plugins_test.cpp
  LIBS lv_runtime
  LABELS runtime parse threads)
target_compile_definitions(plugins_test PRIVATE LV_TESTPLUGIN_DIR="${LV_TESTPLUGIN_DIR}")
add_dependencies(plugins_test ${LV_TESTPLUGIN_TARGETS} plugins_script applet_plugins_test applet_slots_test applet_raster_slots_test applet_fontjpeg_test lumivarra lvlink)
