# Icons: the native icon format's writer and reader, the ICO image body, and the icon
# applet run by the built runtime (CreateIcon, SaveIcon, LoadIcon, the entry commands).
lv_add_test(ui_icons_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/icons_test.cpp LIBS lv_ui LABELS ui)
lv_assemble(OUTPUT ${CMAKE_BINARY_DIR}/tests/ui/icons/icons.lvc SOURCE ${CMAKE_CURRENT_LIST_DIR}/icons_fixtures/icons.lvs
            LABELS ${CMAKE_BINARY_DIR}/tests/ui/icons/icons.labels)
lv_make_applet(OUTPUT ${CMAKE_BINARY_DIR}/tests/ui/icons/icons.lva CHUNK ${CMAKE_BINARY_DIR}/tests/ui/icons/icons.lvc
               LABELS ${CMAKE_BINARY_DIR}/tests/ui/icons/icons.labels TARGET icons_applet
               ARGS --file two.png=${CMAKE_CURRENT_LIST_DIR}/icons_fixtures/two.png
                    --object 15:3:two.png:${CMAKE_CURRENT_LIST_DIR}/icons_fixtures/two.png
                    --icon 16x16=${CMAKE_CURRENT_LIST_DIR}/icons_fixtures/green16.png
               DEPENDS ${CMAKE_CURRENT_LIST_DIR}/icons_fixtures/two.png
                       ${CMAKE_CURRENT_LIST_DIR}/icons_fixtures/green16.png)
# The same script with a 20 x 20 picture in the 16 x 16 application-icon slot.
lv_make_applet(OUTPUT ${CMAKE_BINARY_DIR}/tests/ui/icons/badicon.lva CHUNK ${CMAKE_BINARY_DIR}/tests/ui/icons/icons.lvc
               TARGET icons_badicon_applet
               ARGS --icon 16x16=${CMAKE_CURRENT_LIST_DIR}/icons_fixtures/green20.png
               DEPENDS ${CMAKE_CURRENT_LIST_DIR}/icons_fixtures/green20.png)
lv_assemble(OUTPUT ${CMAKE_BINARY_DIR}/tests/ui/icons/tray.lvc SOURCE ${CMAKE_CURRENT_LIST_DIR}/icons_fixtures/tray.lvs
            LABELS ${CMAKE_BINARY_DIR}/tests/ui/icons/tray.labels)
lv_make_applet(OUTPUT ${CMAKE_BINARY_DIR}/tests/ui/icons/tray.lva CHUNK ${CMAKE_BINARY_DIR}/tests/ui/icons/tray.lvc
               LABELS ${CMAKE_BINARY_DIR}/tests/ui/icons/tray.labels TARGET icons_tray_applet)
lv_assemble(OUTPUT ${CMAKE_BINARY_DIR}/tests/ui/icons/adapter.lvc SOURCE ${CMAKE_CURRENT_LIST_DIR}/icons_fixtures/adapter.lvs
            LABELS ${CMAKE_BINARY_DIR}/tests/ui/icons/adapter.labels)
lv_make_applet(OUTPUT ${CMAKE_BINARY_DIR}/tests/ui/icons/adapter.lva CHUNK ${CMAKE_BINARY_DIR}/tests/ui/icons/adapter.lvc
               LABELS ${CMAKE_BINARY_DIR}/tests/ui/icons/adapter.labels TARGET icons_adapter_applet
               ARGS --display 1:320x240:0x336699:0x400:One)
add_dependencies(ui_icons_test lumivarra icons_applet icons_badicon_applet icons_tray_applet icons_adapter_applet testadapter_plugin)
target_compile_definitions(ui_icons_test PRIVATE LV_TESTPLUGIN_DIR="${CMAKE_BINARY_DIR}/testplugins")
