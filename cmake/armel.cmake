# Debian's cross compiler for the devices' processor class: 32-bit ARMv5TE
# (armel: EABI, soft float, plain char unsigned), in ARM state, linked
# statically so that qemu-arm runs the programs without an ARM root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(CMAKE_C_FLAGS_INIT "-march=armv5te -marm")
# The programs built here are the unit tests, so UBSan's checks of what the
# processor class makes differ (alignment, shifts, overflow) trap: Debian's
# armel UBSan runtime does not link statically for ARMv5TE, a trap needs none.
set(CMAKE_CXX_FLAGS_INIT "-march=armv5te -marm -fsanitize=alignment,shift,signed-integer-overflow,pointer-overflow -fsanitize-undefined-trap-on-error")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabi)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
