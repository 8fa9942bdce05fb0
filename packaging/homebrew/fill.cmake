# Writes the Homebrew formula for one release: blockfall.rb with its version,
# url and sha256 set from the source archive (ARCHIVE, the file published
# at URL), to OUT.
#   cmake -DARCHIVE=... -DURL=... -DOUT=... -P fill.cmake
foreach(name ARCHIVE URL OUT)
  if(NOT DEFINED ${name})
    message(FATAL_ERROR "usage: cmake -DARCHIVE=<blockfall-X.Y.Z.tar.gz> -DURL=<its address> "
                        "-DOUT=<formula> -P fill.cmake")
  endif()
endforeach()
get_filename_component(name ${ARCHIVE} NAME)
if(NOT name MATCHES "^blockfall-([0-9][^/]*)\\.tar\\.gz$")
  message(FATAL_ERROR "${ARCHIVE}: not a release's source archive (blockfall-<version>.tar.gz)")
endif()
file(SHA256 ${ARCHIVE} sum)
file(READ ${CMAKE_CURRENT_LIST_DIR}/blockfall.rb formula)
string(REGEX REPLACE "\n  url \"[^\"]*\"" "\n  url \"${URL}\"" formula "${formula}")
string(REGEX REPLACE "\n  sha256 \"[0-9a-f]*\"" "\n  sha256 \"${sum}\"" formula "${formula}")
file(WRITE ${OUT} "${formula}")
message("${OUT}: ${URL} (sha256 ${sum})")
