# The terminal descriptions a binary carries (platform/terminal/
# builtin_terminfo.h), taken from the build machine's database as ncurses
# compiled them. The static build carries the common types, as the one file
# must play where there is no database; other builds use the system's alone
# unless given a list.
#
#   blockfall_builtin_terminfo(TARGET)
# adds the generated table to TARGET's sources and sets TARGET's property
# BLOCKFALL_TERMINALS to the types it carries.

set(BLOCKFALL_BUILTIN_TERMINALS "" CACHE STRING
    "Terminal types whose descriptions the binary carries, from the build machine's database \
(empty: the common types in the static build, none in others)")
set(BLOCKFALL_TERMINFO_DIRS "/etc/terminfo;/lib/terminfo;/usr/share/terminfo" CACHE STRING
    "Where the build looks for those descriptions (ncurses-base, ncurses-term)")

set(blockfall_builtin_template ${CMAKE_CURRENT_LIST_DIR}/BuiltinTerminfo.cpp.in)

function(blockfall_builtin_terminfo target)
  # The list is decided at each configure, so that switching the static
  # build on in an existing tree carries the common types.
  set(required ${BLOCKFALL_BUILTIN_TERMINALS})
  set(optional)
  if(BLOCKFALL_STATIC)
    if(NOT required)
      set(required xterm xterm-256color screen screen-256color tmux-256color linux vt100 vt220)
    endif()
    # Terminals that ship their own entries, carried where the build
    # machine's database has them.
    set(optional xterm-kitty alacritty foot)
  endif()
  set(blockfall_entries "")
  set(carried)
  foreach(name IN LISTS required optional)
    string(SUBSTRING "${name}" 0 1 initial)
    set(found "")
    foreach(dir IN LISTS BLOCKFALL_TERMINFO_DIRS)
      if(NOT found AND EXISTS "${dir}/${initial}/${name}")
        set(found "${dir}/${initial}/${name}")
      endif()
    endforeach()
    if(found)
      # The file exactly as ncurses compiled it; terminfo reads it back from
      # hexadecimal, so no tool is needed at build time and nothing is
      # recompiled on the way.
      file(READ "${found}" hex HEX)
      string(APPEND blockfall_entries "    {\"${name}\", \"hex:${hex}\"},\n")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${found}")
      list(APPEND carried ${name})
    elseif(name IN_LIST required)
      message(FATAL_ERROR "No description of '${name}' in ${BLOCKFALL_TERMINFO_DIRS} "
                          "(Debian's ncurses-base and ncurses-term have them)")
    endif()
  endforeach()
  set(source ${CMAKE_CURRENT_BINARY_DIR}/builtin_terminfo.cpp)
  configure_file(${blockfall_builtin_template} ${source} @ONLY)
  target_sources(${target} PRIVATE ${source})
  set_property(TARGET ${target} PROPERTY BLOCKFALL_TERMINALS ${carried})
endfunction()
