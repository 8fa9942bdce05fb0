# Copies the page's files (FILES, a list) into its folder (DESTINATION) as
# a static server should serve them: readable by all and executable by none
# (the linker marks the .wasm executable), and without a pointer to a
# source map that the folder does not hold.
#
# Usage: cmake -DFILES=a;b -DDESTINATION=dir -P assemble.cmake
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
