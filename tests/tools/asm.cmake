# Assembler kit: encoders and writer, the text assembler, and the disassembler's round
# trips. The fixtures are assembled in the build like any applet source.
# Sources named *.bad.lvs are meant to fail and are only fed to the tests.
file(GLOB LV_ASM_FIXTURES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/asm_fixtures/*.lvs)
list(FILTER LV_ASM_FIXTURES EXCLUDE REGEX "\\.bad\\.lvs$")
set(LV_ASM_FIXTURE_CHUNKS "")
foreach(src ${LV_ASM_FIXTURES})
  get_filename_component(stem ${src} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/tests/tools/asm_fixtures/${stem}.lvc)
  lv_assemble(OUTPUT ${out} SOURCE ${src})
  list(APPEND LV_ASM_FIXTURE_CHUNKS ${out})
endforeach()
add_custom_target(asm_fixtures ALL DEPENDS ${LV_ASM_FIXTURE_CHUNKS})

lv_add_test(asm_encode_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/asm_encode_test.cpp
  LIBS lv_asm LABELS tools)
lv_add_test(asm_assembler_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/asm_assembler_test.cpp ${CMAKE_CURRENT_LIST_DIR}/asm_verifier.cpp
  LIBS lv_asm LABELS tools)
lv_add_test(asm_roundtrip_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/asm_roundtrip_test.cpp ${CMAKE_CURRENT_LIST_DIR}/asm_verifier.cpp
  LIBS lv_asm LABELS parse)
# The round trips run the built tools and read the built example and fixture chunks.
add_dependencies(asm_roundtrip_test lvasm lvdis lv_examples asm_fixtures)
