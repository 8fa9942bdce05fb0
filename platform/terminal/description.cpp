// The description room. See description.h.
#include "platform/terminal/description.h"

#include <curses.h>
#include <term.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <variant>

#include "platform/terminal/builtin_terminfo.h"

namespace {

// Every capability the backend reads, by its terminfo name, and its field,
// whose type says whether it is a string, a flag or a number.
using D = Description;
struct Capability {
    char name[6];
    std::variant<char * D::*, bool D::*, int D::*> field;
};
const Capability capabilities[] = {
    {"cup", &D::moveTo},          {"smcup", &D::enterAlt},
    {"rmcup", &D::leaveAlt},      {"enacs", &D::enableAlt},
    {"acsc", &D::altPairs},       {"clear", &D::clearAll},
    {"civis", &D::hideCursor},    {"cnorm", &D::showCursor},
    {"rev", &D::reverse},         {"sgr0", &D::plain},
    {"smacs", &D::altOn},         {"rmacs", &D::altOff},
    {"xenl", &D::lateWrap},       {"am", &D::autoWrap},
    {"lines", &D::describedRows}, {"cols", &D::describedColumns},
};

} // namespace

// The system's description of the type when it has one; else the copy this
// binary carries, if any. terminfo is pointed at the copy only while it
// reads it, so the environment is left as it was found.
bool descriptionOpen(const char* term)
{
    int status = 0;
    if (setupterm(nullptr, STDOUT_FILENO, &status) == OK)
        return true;
    const char* builtin = builtinTerminfo(term);
    if (builtin == nullptr)
        return false;
    const char* found = std::getenv("TERMINFO");
    const std::optional<std::string> before =
        found != nullptr ? std::optional<std::string>(found) : std::nullopt;
    setenv("TERMINFO", builtin, 1);
    const bool opened = setupterm(nullptr, STDOUT_FILENO, &status) == OK;
    if (before)
        setenv("TERMINFO", before->c_str(), 1);
    else
        unsetenv("TERMINFO");
    return opened;
}

Description descriptionRead()
{
    Description d{};
    for (const Capability& c : capabilities) {
        // A writable copy of the name: some curses take it as char*.
        char name[sizeof c.name];
        std::memcpy(name, c.name, sizeof name);
        if (const auto* text = std::get_if<char * D::*>(&c.field)) {
            char* s = tigetstr(name);
            d.*(*text) = s == reinterpret_cast<char*>(-1) ? nullptr : s; // -1: not a string
        } else if (const auto* flag = std::get_if<bool D::*>(&c.field)) {
            d.*(*flag) = tigetflag(name) > 0;
        } else if (const auto* number = std::get_if<int D::*>(&c.field)) {
            d.*(*number) = tigetnum(name);
        }
    }
    return d;
}
