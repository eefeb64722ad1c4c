# Text engine tests: the font manager, FreeType faces, the font list and
# system fonts under a fontconfig configuration of their own.
lv_add_test(text_truetype_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_truetype_test.cpp LIBS lv_text LABELS text)
lv_add_test(text_fontlist_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_fontlist_test.cpp LIBS lv_text LABELS text parse)
lv_add_test(text_sysfont_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_sysfont_test.cpp LIBS lv_text LABELS text)
lv_add_test(text_amiga_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_amiga_test.cpp LIBS lv_text LABELS text parse)
lv_add_test(text_pluginfont_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_pluginfont_test.cpp LIBS lv_text LABELS text)

# The text library as a script meets it: an assembled applet run by the
# runtime executable; the engine's state for the library in C++.
lv_add_test(text_lib_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_lib_test.cpp LIBS lv_text LABELS text)
set(LV_TEXT_APPLET_DIR ${CMAKE_BINARY_DIR}/tests/text)
lv_assemble(OUTPUT ${LV_TEXT_APPLET_DIR}/text_fonts.lvc SOURCE ${CMAKE_CURRENT_LIST_DIR}/text_fixtures/text_fonts.lvs)
lv_make_applet(OUTPUT ${LV_TEXT_APPLET_DIR}/text_fonts.lva CHUNK ${LV_TEXT_APPLET_DIR}/text_fonts.lvc
  TARGET applet_text_fonts)
lv_add_test(text_fonts_applet_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_fonts_applet_test.cpp LIBS lv_text
  LABELS text)
target_compile_definitions(text_fonts_applet_test PRIVATE LV_TEXT_APPLET="${LV_TEXT_APPLET_DIR}/text_fonts.lva")
add_dependencies(text_fonts_applet_test lumivarra applet_text_fonts)
lv_assemble(OUTPUT ${LV_TEXT_APPLET_DIR}/text_linked.lvc SOURCE ${CMAKE_CURRENT_LIST_DIR}/text_fixtures/text_linked.lvs)
add_custom_target(applet_text_linked DEPENDS ${LV_TEXT_APPLET_DIR}/text_linked.lvc)
target_compile_definitions(text_fonts_applet_test PRIVATE LV_TEXT_LINKED_CHUNK="${LV_TEXT_APPLET_DIR}/text_linked.lvc")
add_dependencies(text_fonts_applet_test lvlink applet_text_linked)
lv_assemble(OUTPUT ${LV_TEXT_APPLET_DIR}/text_fontpath.lvc SOURCE ${CMAKE_CURRENT_LIST_DIR}/text_fixtures/text_fontpath.lvs)
lv_make_applet(OUTPUT ${LV_TEXT_APPLET_DIR}/text_fontpath.lva CHUNK ${LV_TEXT_APPLET_DIR}/text_fontpath.lvc
  TARGET applet_text_fontpath)
target_compile_definitions(text_fonts_applet_test PRIVATE LV_TEXT_FONTPATH_APPLET="${LV_TEXT_APPLET_DIR}/text_fontpath.lva")
add_dependencies(text_fonts_applet_test applet_text_fontpath)

# Text layout, format tags, bullets and styled glyphs against hand-worked
# layouts, the topaz glyph source and a plain FreeType render.
lv_add_test(text_layout_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_layout_test.cpp LIBS lv_text LABELS text)
target_compile_definitions(text_layout_test PRIVATE LV_TOPAZ_SOURCE="${CMAKE_SOURCE_DIR}/text/fonts/topaz.txt")
lv_add_test(text_output_applet_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_output_applet_test.cpp
  LIBS lv_text PNG::PNG LABELS text)
target_compile_definitions(text_output_applet_test PRIVATE LV_TOPAZ_SOURCE="${CMAKE_SOURCE_DIR}/text/fonts/topaz.txt")
add_dependencies(text_output_applet_test lumivarra lvasm lvlink testplugin_fonts)
target_compile_definitions(text_output_applet_test PRIVATE LV_FONTS_PLUGIN="${CMAKE_BINARY_DIR}/testplugins/fonts.lvp")
lv_add_test(text_object_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_object_test.cpp LIBS lv_text LABELS text)
lv_add_test(text_pathtext_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_pathtext_test.cpp LIBS lv_text LABELS text)
# Fonts from brushes and from the "fonts" test plug-in, in applets.
lv_assemble(OUTPUT ${LV_TEXT_APPLET_DIR}/text_imagefonts.lvc SOURCE ${CMAKE_CURRENT_LIST_DIR}/text_fixtures/text_imagefonts.lvs)
lv_make_applet(OUTPUT ${LV_TEXT_APPLET_DIR}/text_imagefonts.lva CHUNK ${LV_TEXT_APPLET_DIR}/text_imagefonts.lvc
  TARGET applet_text_imagefonts)
lv_assemble(OUTPUT ${LV_TEXT_APPLET_DIR}/text_pluginfonts.lvc SOURCE ${CMAKE_CURRENT_LIST_DIR}/text_fixtures/text_pluginfonts.lvs)
lv_make_applet(OUTPUT ${LV_TEXT_APPLET_DIR}/text_pluginfonts.lva CHUNK ${LV_TEXT_APPLET_DIR}/text_pluginfonts.lvc
  TARGET applet_text_pluginfonts)
lv_add_test(text_fontsources_applet_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_fontsources_applet_test.cpp
  LABELS text)
target_compile_definitions(text_fontsources_applet_test PRIVATE
  LV_IMAGEFONTS_APPLET="${LV_TEXT_APPLET_DIR}/text_imagefonts.lva"
  LV_PLUGINFONTS_APPLET="${LV_TEXT_APPLET_DIR}/text_pluginfonts.lva"
  LV_FONTS_PLUGIN="${CMAKE_BINARY_DIR}/testplugins/fonts.lvp")
add_dependencies(text_fontsources_applet_test lumivarra applet_text_imagefonts applet_text_pluginfonts testplugin_fonts)
# Vector paths: the command buffer and the built-in engine in C++.
lv_add_test(text_vectorpath_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_vectorpath_test.cpp LIBS lv_text LABELS text)
lv_add_test(text_vectorpath_applet_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_vectorpath_applet_test.cpp LIBS lv_text
  LABELS text)
add_dependencies(text_vectorpath_applet_test lumivarra lvasm lvlink)
# The vector-engine test plug-in that the applet test selects with SetVectorEngine.
add_library(testplugin_vecengine MODULE ${CMAKE_SOURCE_DIR}/tests/plugins/vectorplugin.cpp)
set_target_properties(testplugin_vecengine PROPERTIES
  PREFIX "" OUTPUT_NAME vecengine SUFFIX ".lvp"
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testplugins
  CXX_VISIBILITY_PRESET hidden)
target_compile_definitions(text_vectorpath_applet_test PRIVATE
  LV_VECTOR_PLUGIN="${CMAKE_BINARY_DIR}/testplugins/vecengine.lvp")
add_dependencies(text_vectorpath_applet_test testplugin_vecengine)
