# Builds for the browser with emscripten: Debian's package under
# /usr/share/emscripten, or wherever the EMSCRIPTEN variable points (an SDK's
# upstream/emscripten). The platform file does the real work.
find_path(BLOCKFALL_EMSCRIPTEN_ROOT cmake/Modules/Platform/Emscripten.cmake
          HINTS ENV EMSCRIPTEN PATHS /usr/share/emscripten /usr/lib/emscripten NO_DEFAULT_PATH)
if(NOT BLOCKFALL_EMSCRIPTEN_ROOT)
  message(FATAL_ERROR "emscripten not found: run packaging/deps web, or set EMSCRIPTEN to an SDK")
endif()
set(EMSCRIPTEN_ROOT_PATH ${BLOCKFALL_EMSCRIPTEN_ROOT})
include(${BLOCKFALL_EMSCRIPTEN_ROOT}/cmake/Modules/Platform/Emscripten.cmake)
