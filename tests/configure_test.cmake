# A configure that lacks a library stops naming the package that carries it
# and the packaging/deps job that installs it: each row hides one library
# from a scratch tree's configure.
#   cmake -DSOURCE=... -DSCRATCH=... -DGENERATOR=... -DCXX=... -P configure_test.cmake
set(rows
  "ncurses|-DCMAKE_DISABLE_FIND_PACKAGE_Curses=ON|libncurses-dev|packaging/deps build"
  "libseccomp|-DCMAKE_IGNORE_PATH=/usr/include -DCURSES_INCLUDE_PATH=/usr/include|libseccomp-dev|packaging/deps build"
  "GoogleTest|-DBUILD_TESTING=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON|libgtest-dev|packaging/deps test")
set(failed)
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" row "${row}")
  list(POP_FRONT row name hide package job)
  string(REPLACE " " ";" hide "${hide}")
  file(REMOVE_RECURSE ${SCRATCH})
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${SCRATCH} -G ${GENERATOR}
                          -DCMAKE_CXX_COMPILER=${CXX} -DBUILD_TESTING=OFF ${hide}
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE said)
  string(REGEX REPLACE "[ \n]+" " " said "${said}")
  if(status EQUAL 0 OR NOT said MATCHES "install ${package};.*${job} installs it")
    list(APPEND failed ${name})
    message("${name} hidden: configure ended ${status}, saying: ${said}")
  endif()
endforeach()
file(REMOVE_RECURSE ${SCRATCH})
if(failed)
  message(FATAL_ERROR "a missing ${failed} was not named with its package")
endif()
message("each missing library named with its package and job")
