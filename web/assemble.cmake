# Copies the page's files (FILES, a list) into its folder (DESTINATION) as
# a static server should serve them: readable by all and executable by none
# (the linker marks the .wasm executable), and without a pointer to a
# source map that the folder does not hold. The service worker (sw.js) comes
# last: it gets the list of the other files, to cache, and a cache name
# that changes with the version (VERSION) and with any file's contents, so
# that every new build reaches those who keep the page.
#
# Usage: cmake -DFILES=a;b -DDESTINATION=dir -DVERSION=x.y.z -P assemble.cmake
cmake_minimum_required(VERSION 3.25) # the script's own policies: no @VAR@ references

foreach(file IN LISTS FILES)
  get_filename_component(name ${file} NAME)
  file(COPY_FILE ${file} ${DESTINATION}/${name})
  file(CHMOD ${DESTINATION}/${name} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  if(name MATCHES "\\.m?js$")
    file(READ ${DESTINATION}/${name} text)
    string(REGEX REPLACE "\n//# sourceMappingURL=[^\n]*\n?$" "\n" stripped "${text}")
    if(NOT stripped STREQUAL text)
      file(WRITE ${DESTINATION}/${name} "${stripped}")
    endif()
  endif()
endforeach()

set(cached "'./'")
set(contents)
foreach(file IN LISTS FILES)
  get_filename_component(name ${file} NAME)
  if(NOT name STREQUAL "sw.js")
    string(APPEND cached ", './${name}'")
    file(SHA256 ${DESTINATION}/${name} digest)
    string(APPEND contents ${digest})
  endif()
endforeach()
string(SHA256 digest "${contents}")
string(SUBSTRING ${digest} 0 12 digest)
file(READ ${DESTINATION}/sw.js text)
string(REPLACE "@BUILD@" "${VERSION}-${digest}" text "${text}")
string(REPLACE "@FILES@" "${cached}" text "${text}")
file(WRITE ${DESTINATION}/sw.js "${text}")
