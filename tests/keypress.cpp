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

#include <iostream>
#include <sstream>
#include <string>

namespace {

struct KeyName {
    const char* name;
    WORD code;
    bool extended; // the arrows are on the extended keypad
};

constexpr KeyName keyNames[] = {
    {"left", VK_LEFT, true}, {"right", VK_RIGHT, true},    {"up", VK_UP, true},
    {"down", VK_DOWN, true}, {"escape", VK_ESCAPE, false}, {"enter", VK_RETURN, false},
};

const KeyName* findKey(const std::string& name)
{
    for (const KeyName& k : keyNames)
        if (name == k.name)
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
    return SendInput(1, &in, static_cast<int>(sizeof in)) == 1;
}

bool run(const std::string& line)
{
    std::istringstream words(line);
    std::string verb, name;
    int ms = -1;
    words >> verb >> name >> ms;
    const KeyName* key = findKey(name);
    if (key == nullptr)
        return false;
    if (verb == "down")
        return send(*key, false);
    if (verb == "up")
        return send(*key, true);
    if (verb == "tap" && ms >= 0) {
        const bool pressed = send(*key, false);
        Sleep(static_cast<DWORD>(ms));
        return send(*key, true) && pressed;
    }
    return false;
}

} // namespace

int main()
{
    for (std::string line; std::getline(std::cin, line);)
        std::cout << (run(line) ? "ok" : "error") << std::endl;
    return 0;
}
