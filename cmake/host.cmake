# Host build: the monitor against the platform layer in platform/.

find_package(Threads REQUIRED)
find_program(DORVE_WINDRES NAMES i686-w64-mingw32-windres x86_64-w64-mingw32-windres windres REQUIRED)

option(DORVE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(DORVE_TSAN "Build with ThreadSanitizer" OFF)
if(DORVE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(DORVE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
add_compile_options(-Wall -Wextra -Wno-unused-parameter)

set(DORVE_LIBDIR ${CMAKE_BINARY_DIR}/lib)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${DORVE_LIBDIR})
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

add_subdirectory(platform)

# The monitor's resources: windres compiles the same script as for the DLL
# into a .res file, which the host module carries as data.
set(DORVEMON_RES ${CMAKE_BINARY_DIR}/res/dorvemon.res)
add_custom_command(OUTPUT ${DORVEMON_RES}
  COMMAND ${DORVE_WINDRES} -I${CMAKE_SOURCE_DIR}/src -I${CMAKE_BINARY_DIR}/res
          -O res ${CMAKE_SOURCE_DIR}/src/dorvemon.rc ${DORVEMON_RES}
  DEPENDS ${CMAKE_SOURCE_DIR}/src/dorvemon.rc ${CMAKE_SOURCE_DIR}/src/resource.h ${DORVE_MSGBIN}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/res)
configure_file(${CMAKE_SOURCE_DIR}/platform/resblob.cpp.in ${CMAKE_BINARY_DIR}/res/dorvemon_res.cpp @ONLY)
set_source_files_properties(${CMAKE_BINARY_DIR}/res/dorvemon_res.cpp PROPERTIES OBJECT_DEPENDS ${DORVEMON_RES})

add_library(dorvemon SHARED ${DORVEMON_SOURCES} ${CMAKE_BINARY_DIR}/res/dorvemon_res.cpp)
target_include_directories(dorvemon PUBLIC src autodiscover)
target_link_libraries(dorvemon PUBLIC dorvewin)

add_subdirectory(installer)
add_subdirectory(tools)

enable_testing()
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
add_subdirectory(tests)
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
