# Windows build (mingw-w64): DORVEMON.DLL and ZUVUTIL.dll, marked for
# Windows 4.0, importing only the system DLLs and the C runtime.

set(DORVE_WIN_COMPILE -fno-exceptions -fno-rtti -Wall -Wno-unused-parameter)
set(DORVE_WIN_LINK -static-libgcc -static-libstdc++ -Wl,--enable-stdcall-fixup
    -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0)

set(DORVEMON_RES ${CMAKE_BINARY_DIR}/res/dorvemon.res.o)
add_custom_command(OUTPUT ${DORVEMON_RES}
  COMMAND ${CMAKE_RC_COMPILER} -I${CMAKE_SOURCE_DIR}/src -I${CMAKE_BINARY_DIR}/res
          -O coff ${CMAKE_SOURCE_DIR}/src/dorvemon.rc ${DORVEMON_RES}
  DEPENDS ${CMAKE_SOURCE_DIR}/src/dorvemon.rc ${CMAKE_SOURCE_DIR}/src/resource.h ${DORVE_MSGBIN}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/res)

add_library(dorvemon SHARED ${DORVEMON_SOURCES} ${DORVEMON_RES} src/dorvemon.def)
set_target_properties(dorvemon PROPERTIES OUTPUT_NAME DORVEMON PREFIX "" SUFFIX ".DLL")
target_include_directories(dorvemon BEFORE PRIVATE platform/win95)
target_include_directories(dorvemon PRIVATE src autodiscover)
target_compile_options(dorvemon PRIVATE ${DORVE_WIN_COMPILE})
target_link_options(dorvemon PRIVATE ${DORVE_WIN_LINK})
target_link_libraries(dorvemon PRIVATE wsock32 winspool user32 gdi32 advapi32 kernel32)

if(EXISTS ${CMAKE_SOURCE_DIR}/installer/zuvutil.cpp)
  add_library(zuvutil SHARED installer/zuvutil.cpp installer/zuvutil.def)
  set_target_properties(zuvutil PROPERTIES OUTPUT_NAME ZUVUTIL PREFIX "" SUFFIX ".dll")
  target_compile_options(zuvutil PRIVATE ${DORVE_WIN_COMPILE})
  target_link_options(zuvutil PRIVATE ${DORVE_WIN_LINK})
  target_link_libraries(zuvutil PRIVATE winspool advapi32 kernel32)
endif()

# x86-64 only: the test suite and the Win32 harness, run under wine64 by
# tests/wine/run.sh.  The monitor's internal functions are not exported from
# the DLL, so the test programs link its objects and its resources instead.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  add_library(dorvemon_objects OBJECT ${DORVEMON_SOURCES})
  target_include_directories(dorvemon_objects BEFORE PRIVATE platform/win95)
  target_include_directories(dorvemon_objects PRIVATE src autodiscover)
  target_compile_options(dorvemon_objects PRIVATE ${DORVE_WIN_COMPILE})
  add_custom_target(dorvemon_resobj DEPENDS ${DORVEMON_RES})

  enable_testing()
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_subdirectory(tests/wine)
  add_subdirectory(tests/win32)
endif()
