# The terminal descriptions a binary carries (platform/terminal/
# builtin_terminfo.h), taken from the build machine's database as ncurses
# compiled them. The static build carries a fixed set, the common types and
# the terminals that ship entries of their own, so that the one file plays
# where there is no database and is the same file wherever it is built: a
# type missing here stops the configure, naming the package that carries it
# (packaging/deps static installs them all). Other builds use the system's
# database alone unless given a list.
#
#   blockfall_builtin_terminfo(TARGET)
# adds the generated table to TARGET's sources and sets TARGET's property
# BLOCKFALL_TERMINALS to the types it carries.

set(BLOCKFALL_BUILTIN_TERMINALS "" CACHE STRING
    "Terminal types whose descriptions the binary carries, from the build machine's database \
(empty: the fixed set in the static build, none in others)")
# Where the distribution's packages put them; not /etc/terminfo, whose
# entries are the machine's own.
set(BLOCKFALL_TERMINFO_DIRS "/lib/terminfo;/usr/share/terminfo" CACHE STRING
    "Where the build looks for those descriptions, the first place that has one winning")

set(blockfall_builtin_template ${CMAKE_CURRENT_LIST_DIR}/BuiltinTerminfo.cpp.in)

function(blockfall_builtin_terminfo target)
  # The list is decided at each configure, so that switching the static
  # build on in an existing tree carries the common types.
  set(carried ${BLOCKFALL_BUILTIN_TERMINALS})
  if(BLOCKFALL_STATIC AND NOT carried)
    set(carried xterm xterm-256color screen screen-256color tmux-256color linux vt100 vt220
                alacritty xterm-kitty foot)
  endif()
  set(blockfall_entries "")
  set(missing)
  foreach(name IN LISTS carried)
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
    else()
      list(APPEND missing ${name})
    endif()
  endforeach()
  if(missing)
    # The packages that carry them are packaging/deps's to name.
    execute_process(COMMAND ${PROJECT_SOURCE_DIR}/packaging/deps --check static
                    ERROR_VARIABLE packages ERROR_STRIP_TRAILING_WHITESPACE)
    if(NOT packages)
      set(packages "(packaging/deps finds the packages of its static job installed.)")
    endif()
    list(JOIN missing ", " missing)
    list(JOIN BLOCKFALL_TERMINFO_DIRS " or " dirs)
    message(FATAL_ERROR "No description of ${missing} in ${dirs}, which this build carries. "
                        "${packages}")
  endif()
  set(source ${CMAKE_CURRENT_BINARY_DIR}/builtin_terminfo.cpp)
  configure_file(${blockfall_builtin_template} ${source} @ONLY)
  target_sources(${target} PRIVATE ${source})
  set_property(TARGET ${target} PROPERTY BLOCKFALL_TERMINALS ${carried})
endfunction()
