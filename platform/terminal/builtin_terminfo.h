#pragma once

// The compiled descriptions of the common terminal types, carried in the
// binary for a system without a terminal database (a container, a rescue
// shell, a static binary on a distribution that keeps its database
// elsewhere). Each is handed to terminfo as TERMINFO="hex:<entry>".

// "hex:" and the compiled entry of the named type in hexadecimal, or
// nullptr when this build carries none for it.
const char* builtinTerminfo(const char* term);
