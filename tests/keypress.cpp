// Presses keys on the desktop it runs on, as a player would: the game's key
// polls (GetAsyncKeyState) see what SendInput sends, under wine without any
// display too. The tests that play the Windows build start it beside the
// game, on the same desktop, and drive it through standard input, one
// command a line, each answered with "ok" once done (or "error"):
//
//   down KEY        press KEY and keep it down
//   up KEY          let KEY go
//   tap KEY MS      press KEY, hold it MS milliseconds, let it go
//
// KEY is left, right, up, down, escape or enter.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

struct KeyName {
    const char* name;
    WORD code;
    bool extended; // the arrows are on the extended keypad
};

constexpr KeyName keyNames[] = {
    {"left", VK_LEFT, true},    {"right", VK_RIGHT, true},   {"up", VK_UP, true},
    {"down", VK_DOWN, true},    {"escape", VK_ESCAPE, false}, {"enter", VK_RETURN, false},
};

const KeyName* findKey(const char* name)
{
    for (const KeyName& k : keyNames)
        if (std::strcmp(k.name, name) == 0)
            return &k;
    return nullptr;
}

bool send(const KeyName& key, bool release)
{
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = key.code;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key.code, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = (key.extended ? KEYEVENTF_EXTENDEDKEY : 0u) | (release ? KEYEVENTF_KEYUP : 0u);
    return SendInput(1, &in, sizeof in) == 1;
}

bool run(const char* line)
{
    char verb[16] = {};
    char name[16] = {};
    int ms = 0;
    const int fields = std::sscanf(line, "%15s %15s %d", verb, name, &ms);
    const KeyName* key = fields >= 2 ? findKey(name) : nullptr;
    if (key == nullptr)
        return false;
    if (std::strcmp(verb, "down") == 0)
        return send(*key, false);
    if (std::strcmp(verb, "up") == 0)
        return send(*key, true);
    if (std::strcmp(verb, "tap") == 0 && fields == 3 && ms >= 0) {
        const bool pressed = send(*key, false);
        Sleep(static_cast<DWORD>(ms));
        return send(*key, true) && pressed;
    }
    return false;
}

} // namespace

int main()
{
    char line[64];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        std::puts(run(line) ? "ok" : "error");
        std::fflush(stdout);
    }
    return 0;
}
