# The device's own compiler: arm-mingw32ce, GCC 4.4 for Windows CE on ARM
# (PE machine 0x1C0, subsystem 9), whose programs import COREDLL.dll.
#
# tools/ce_toolchain.sh finds it, as it does for make and the device check:
# in the folder named by the environment variable KEL_CE_BIN, else on PATH,
# else where make deps unpacks the one the project keeps beside it
# (build/toolchains/cegcc-prefix/bin).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(KEL_WINCE ON)

execute_process(COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../tools/ce_toolchain.sh
                OUTPUT_VARIABLE KEL_CE_BIN_DIR ERROR_VARIABLE why RESULT_VARIABLE found
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT found EQUAL 0)
  message(FATAL_ERROR "no device compiler: ${why}")
endif()
set(CMAKE_C_COMPILER ${KEL_CE_BIN_DIR}/arm-mingw32ce-gcc)
set(CMAKE_CXX_COMPILER ${KEL_CE_BIN_DIR}/arm-mingw32ce-g++)
set(CMAKE_RC_COMPILER ${KEL_CE_BIN_DIR}/arm-mingw32ce-windres)
set(CMAKE_FIND_ROOT_PATH ${KEL_CE_BIN_DIR}/../arm-mingw32ce)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The compiler links COREDLL.dll by itself; the desktop's default libraries do not exist here.
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "")
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "")
# Its <stdint.h> gives C++ the limit and constant macros only on request;
# GCC 4.4 warns of every "= {}" that leaves members to zero.
set(CMAKE_C_FLAGS_INIT "-Wno-missing-field-initializers")
set(CMAKE_CXX_FLAGS_INIT "-D__STDC_LIMIT_MACROS -D__STDC_CONSTANT_MACROS -Wno-missing-field-initializers")
