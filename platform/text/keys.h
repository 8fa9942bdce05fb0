// Turns the bytes a terminal sends into key events. Pure: no I/O and no
// state but the decoder record it is handed, so it can be tested and fuzzed
// on its own.
//
// It understands the legacy forms (arrows as ESC [ A or ESC O A in either
// cursor-key mode, Enter as CR or LF, a lone ESC as the Escape key) and the
// progressive keyboard enhancement protocol ("CSI u", with press, repeat and
// release events), including the terminal's replies to the query for it.
// Anything else is swallowed without harm, however it is cut across reads.
#pragma once

#include "platform/platform.h"

// Key codes beyond the seam's: control chords that a terminal in the
// enhanced protocol sends as escape codes instead of raising the signal
// itself.
constexpr int keyInterrupt = 0x100; // Ctrl-C
constexpr int keySuspend = 0x101;   // Ctrl-Z
constexpr int keyQuit = 0x102;      // Ctrl-backslash
// Any other byte typed outside a sequence (text, UTF-8, a control) and any
// control inside one: the prompt's line editing reads these; value holds it.
constexpr int keyChar = 0x103;
// Replies to the start-up query.
constexpr int replyProtocolFlags = 0x200;    // CSI ? flags u: the protocol is offered
constexpr int replyDeviceAttributes = 0x201; // CSI ? ... c: every terminal answers this

enum KeyAction { keyPress = 1, keyRepeat = 2, keyRelease = 3 };

struct KeyEvent {
    int key;    // one of the key codes, or a reply
    int action; // keyPress, keyRepeat or keyRelease
    int value;  // the flags of a protocol reply
};

struct KeyDecoder {
    int state;       // where in a sequence the last byte left us
    char params[32]; // parameter and intermediate bytes of a CSI sequence
    int length;      // bytes held in params
    bool overflow;   // the sequence outgrew params: it is dropped at its end
};

void resetKeys(KeyDecoder& d);
// Feeds one byte; returns 1 and fills *event when it completes a key.
int feedKey(KeyDecoder& d, unsigned char byte, KeyEvent* event);
// Input has fallen silent: a sequence still unfinished ends there, however
// it began; an ESC still waiting for its sequence was the Escape key.
int settleKeys(KeyDecoder& d, KeyEvent* event);
// Whether a sequence has begun and not ended: a silence would settle it.
bool keysPending(const KeyDecoder& d);
