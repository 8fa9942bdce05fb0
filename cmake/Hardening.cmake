# The protections a distribution builds its packages with, for every
# native build of the game, and build paths kept out of what is built.
#
# Ours go first on the command line and the builder's own flags after them:
# CXXFLAGS and LDFLAGS from the environment (CMake reads them into
# CMAKE_CXX_FLAGS and CMAKE_EXE_LINKER_FLAGS on the first configure) and
# CPPFLAGS, which CMake does not read, taken the same way here. Where both
# give a flag of one kind, the builder's, coming later, is the one in force;
# no preset sets these variables, so none replaces them.
#
# The web build compiles to WebAssembly, where none of these apply, and the
# sanitizer and fuzzer builds keep their own instrumentation alone
# (_FORTIFY_SOURCE's checked functions hide faults from AddressSanitizer).

set(BLOCKFALL_CPPFLAGS "$ENV{CPPFLAGS}" CACHE STRING
    "Preprocessor flags from the environment at the first configure, added to the compiler's")
set(blockfall_harden_compile)
set(blockfall_harden_link)

if(NOT MSVC AND NOT EMSCRIPTEN)
  # The source and build folders leave no trace in the binaries (in debug
  # information, assertion messages or __FILE__), so that the same commit
  # builds the same bytes from any checkout. The later map wins where both
  # match (a build folder inside the sources).
  # Options of their own rather than text in the flags, so that a folder
  # whose name holds a space or a quote stays one argument.
  add_compile_options("-ffile-prefix-map=${PROJECT_SOURCE_DIR}=."
                      "-ffile-prefix-map=${PROJECT_BINARY_DIR}=build")
endif()

if(EMSCRIPTEN OR MSVC OR BLOCKFALL_SANITIZE OR BLOCKFALL_FUZZ)
  # Nothing more: see above.
elseif(WIN32)
  # mingw-w64's runtime carries the stack protector's library (libssp),
  # linked statically with the rest. Address-space randomisation with high
  # entropy and non-executable data (--dynamicbase, --high-entropy-va,
  # --nxcompat) are its linker's defaults; they are named so that they stay.
  list(APPEND blockfall_harden_compile -fstack-protector-strong)
  list(APPEND blockfall_harden_link -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat)
else()
  list(APPEND blockfall_harden_compile -fstack-protector-strong -fstack-clash-protection -fPIE)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    list(APPEND blockfall_harden_compile -fcf-protection)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    list(APPEND blockfall_harden_compile -mbranch-protection=standard)
  endif()
  list(APPEND blockfall_harden_link -Wl,-z,relro -Wl,-z,now)
  # Position-independent even when linked statically (static-pie, see the
  # game's link line), so that each run loads at its own address.
  if(NOT BLOCKFALL_STATIC)
    list(APPEND blockfall_harden_link -pie)
  endif()
  # The checked string and memory functions need the optimiser; a debug
  # build without it would only be warned about. Left to the builder where
  # their flags already choose a level, since a second definition is an error
  # under fatal warnings.
  if(NOT "${BLOCKFALL_CPPFLAGS} ${CMAKE_CXX_FLAGS}" MATCHES "_FORTIFY_SOURCE")
    foreach(config RELEASE RELWITHDEBINFO MINSIZEREL)
      string(APPEND CMAKE_CXX_FLAGS_${config} " -D_FORTIFY_SOURCE=2")
    endforeach()
  endif()
endif()

list(JOIN blockfall_harden_compile " " blockfall_harden_compile)
list(JOIN blockfall_harden_link " " blockfall_harden_link)
string(STRIP "${blockfall_harden_compile} ${BLOCKFALL_CPPFLAGS} ${CMAKE_CXX_FLAGS}" CMAKE_CXX_FLAGS)
string(STRIP "${blockfall_harden_link} ${CMAKE_EXE_LINKER_FLAGS}" CMAKE_EXE_LINKER_FLAGS)
