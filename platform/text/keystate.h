// The keys as the game polls them, the Windows console's way: down now, or
// pressed since the last poll. For the backends that keep key state
// themselves from the key events they see.
#pragma once

#include "platform/platform.h"

struct KeyState {
    bool latched; // pressed since its last poll
    bool down;    // down now
};

// One state for each key of the seam's table (polledKeys), in its order.
struct GameKeys {
    KeyState of[polledKeyCount];
};

// The state of one of the polled keys; null for any other key.
inline KeyState* keyStateOf(GameKeys& keys, int key)
{
    const int i = polledIndex(key);
    return i < 0 ? nullptr : &keys.of[i];
}

// A key-down or key-up seen for the key. Where key-ups are not reported
// (holds false) a press only latches: the key is not taken to stay down.
inline void noteKey(KeyState& k, bool down, bool holds)
{
    if (down)
        k.latched = true;
    k.down = down && holds;
}

// Down now, or pressed since its last poll.
inline bool pressed(const KeyState& k) { return k.latched || k.down; }

// 1 when the key is down now or was pressed since its last poll; the poll
// takes the press.
inline int pollKey(GameKeys& keys, int key)
{
    KeyState* k = keyStateOf(keys, key);
    if (k == nullptr)
        return 0;
    const bool was = pressed(*k);
    k->latched = false;
    return was ? 1 : 0;
}

// Whether the next Escape poll ends the game, without taking the press.
inline bool escapePressed(const GameKeys& keys) { return pressed(keys.of[polledIndex(keyEscape)]); }

// Every key let go, where the game stands still or its keys' key-ups go
// elsewhere: none stays down, and every press not yet polled is forgotten
// but Escape's, which still ends the game.
inline void letGoKeys(GameKeys& keys)
{
    for (int i = 0; i < polledKeyCount; ++i) {
        keys.of[i].latched = keys.of[i].latched && polledKeys[i] == keyEscape;
        keys.of[i].down = false;
    }
}
