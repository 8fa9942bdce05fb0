# Compiles every native source of the game for one macOS target (TARGET,
# e.g. aarch64-macos), compile-only, with Zig's clang (installed into
# NPM_DIR by npm, NPM, when first wanted): it carries macOS's C library
# headers, and the curses ones are our stand-ins in fixtures/. Warnings are
# fatal. SOURCES_FILE sets SOURCES (absolute paths) and FLAGS; the objects
# go to OUT and are not kept for anything.
#   cmake -DNPM=... -DNPM_DIR=... -DTARGET=... -DSOURCES_FILE=... -DOUT=... -P check.cmake
get_filename_component(here ${CMAKE_CURRENT_LIST_FILE} DIRECTORY)
set(DIR ${NPM_DIR})
include(${here}/compiler.cmake)
if(ZIG_MISSING)
  message("Zig could not be installed, ${ZIG_MISSING}: macOS check skipped")
  return()
endif()
include(${SOURCES_FILE})
file(MAKE_DIRECTORY ${OUT}/${TARGET})
set(ENV{ZIG_GLOBAL_CACHE_DIR} ${OUT}/zig-cache)
set(ENV{ZIG_LOCAL_CACHE_DIR} ${OUT}/zig-cache)
set(failed)
foreach(source IN LISTS SOURCES)
  get_filename_component(name ${source} NAME_WE)
  execute_process(
    COMMAND ${ZIG} c++ -target ${TARGET} -std=c++20 ${FLAGS} -Werror -isystem ${here}/fixtures
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
