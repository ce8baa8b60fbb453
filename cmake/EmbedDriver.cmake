# Turns the kernel driver's sources (HuxCorePkgLnx/Driver) into byte arrays
# that the program writes out as they are: cmake -DSOURCE_DIR=... -DOUTPUT=...
# -P EmbedDriver.cmake. Each file becomes a NUV_DRIVER_SOURCE named by the
# second argument of embed() below.
set(text "// Made from HuxCorePkgLnx/Driver by cmake/EmbedDriver.cmake; do not edit.\n#include \"TKXDriverText.h\"\n")

function(embed file name)
  file(READ "${SOURCE_DIR}/${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){24})" "\\1\n    " bytes "${bytes}")
  set(text "${text}\nstatic const char k${name}Bytes[] = {\n    ${bytes}0};\n")
  set(text "${text}const NUV_DRIVER_SOURCE ${name} = {k${name}Bytes, ${size}};\n" PARENT_SCOPE)
endfunction()

embed(nuvwrap.h kNuvWrapHeaderFile)
embed(nuvwrap.c kNuvWrapSourceFile)
embed(nuvfldrv.h kNuvCoreHeaderFile)
embed(nuvfldrv.c kNuvCoreSourceFile)

# Written only when it changes, so that a configure run rebuilds nothing.
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
