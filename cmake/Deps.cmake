# What a configure stops on when the system lacks a library: the file not
# found, the package that carries it, and the job of packaging/deps that
# installs it with everything else this tree needs.
#
#   blockfall_missing(WHAT PACKAGE [JOB])
# stops with WHAT (e.g. "seccomp.h") not found, naming PACKAGE and
# `packaging/deps JOB` (this tree's job unless given). A library's package
# for the machine built for is PACKAGE${blockfall_arch} (its arm64 one, by
# multiarch, in an arm64 tree).

if(EMSCRIPTEN)
  set(blockfall_deps_job web)
elseif(WIN32 AND CMAKE_CROSSCOMPILING)
  set(blockfall_deps_job windows)
elseif(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(blockfall_deps_job arm64)
  set(blockfall_arch :arm64)
elseif(BLOCKFALL_STATIC)
  set(blockfall_deps_job static)
else()
  set(blockfall_deps_job build)
endif()
if(BLOCKFALL_STATIC AND NOT blockfall_deps_job STREQUAL static)
  string(APPEND blockfall_deps_job " static")
endif()

function(blockfall_missing what package)
  set(job ${blockfall_deps_job})
  if(ARGC GREATER 2)
    set(job ${ARGV2})
  endif()
  message(FATAL_ERROR "${what} not found: install ${package}; on Debian or "
                      "Ubuntu, packaging/deps ${job} installs it with all this build needs")
endfunction()
