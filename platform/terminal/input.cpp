// The input room: keys are read as bytes, once a frame, and decoded by
// keys.cpp, whose reader knows an ESC followed by anything unknown for what
// it is rather than the Escape key, so a stray sequence cannot end the game.
// Where the terminal offers the progressive keyboard protocol we turn it on
// and keep true key-down state; elsewhere each key is a latch set by its
// presses and auto-repeats.
#include "platform/terminal/input.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/keys.h"
#include "platform/keystate.h"
#include "platform/platform.h"
#include "platform/terminal/screen.h"
#include "platform/terminal/session.h"

namespace {

struct Input {
    GameKeys keys;         // down now only with the protocol; otherwise latches
    bool enterSeen;        // an Enter typed during play, kept for the exit prompt
    bool protocolOffered;  // the terminal answered the protocol query
    bool queryOutstanding; // its answer to the attributes request is still to come
    bool enhanced;         // presses, repeats and releases are being reported
    bool atPrompt;         // past play: the protocol stays off
    KeyDecoder decoder;    // a sequence may be cut across reads
};
Input in;

// Flags: disambiguate escape codes (1) and report event types (2).
void pushProtocol()
{
    if (in.enhanced)
        screenWrite("\033[>3u");
}

void popProtocol()
{
    if (in.enhanced)
        screenWrite("\033[<u");
}

void apply(const KeyEvent& e)
{
    if (KeyState* k = keyStateOf(in.keys, e.key)) {
        if (e.action == keyRelease) {
            k->down = false;
        } else {
            k->latched = true;
            k->down = in.enhanced;
        }
        return;
    }
    switch (e.key) {
    case keyEnter:
        if (e.action == keyPress)
            in.enterSeen = true;
        break;
    // In the protocol these chords arrive as keys, not as signals.
    case keyInterrupt: sessionRequestEnd(SIGINT); break;
    case keyQuit: sessionRequestEnd(SIGQUIT); break;
    case keySuspend: sessionRequestSuspend(); break;
    case replyProtocolFlags: in.protocolOffered = true; break;
    case replyDeviceAttributes:
        // Every terminal answers this request, and after the protocol query:
        // by now we know whether the protocol is there.
        in.queryOutstanding = false;
        if (in.protocolOffered && !in.atPrompt && !in.enhanced) {
            in.enhanced = true;
            pushProtocol();
        }
        break;
    default: break;
    }
}

// Reads what is waiting, without blocking, and decodes it. Returns the
// bytes read: 0 when nothing was there.
ssize_t readKeys()
{
    unsigned char bytes[256];
    const ssize_t n = read(STDIN_FILENO, bytes, sizeof bytes);
    for (ssize_t i = 0; i < n; ++i) {
        KeyEvent e;
        if (feedKey(in.decoder, bytes[i], &e))
            apply(e);
    }
    return n;
}

void endPause()
{
    KeyEvent e;
    if (pauseKeys(in.decoder, &e))
        apply(e);
}

} // namespace

void inputStart()
{
    in = Input{};
    resetKeys(in.decoder);
    // The protocol query, then the device attributes request that every
    // terminal answers.
    screenWrite("\033[?u\033[c");
    in.queryOutstanding = true;
}

void inputDrain()
{
    if (readKeys() <= 0)
        endPause();
}

int inputPolled(int key) { return pollKey(in.keys, key); }

bool inputEnterSeen() { return in.enterSeen; }
void inputPauseProtocol() { popProtocol(); }
void inputResumeProtocol() { pushProtocol(); }

void inputCollectLateAnswer()
{
    for (int waited = 0; in.queryOutstanding && waited < 100; waited += 10) {
        pollfd tty{STDIN_FILENO, POLLIN, 0};
        if (poll(&tty, 1, 10) > 0 && readKeys() <= 0)
            break;
    }
}

void inputEnterPrompt()
{
    in.atPrompt = true;
    popProtocol();
    in.enhanced = false;
}

bool inputWait()
{
    // A lone Escape pressed at the prompt must not swallow the Enter after
    // it: with a sequence begun, a short silence ends it.
    pollfd tty{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&tty, 1, keysPending(in.decoder) ? 50 : -1);
    if (ready < 0 && errno == EINTR)
        return true;
    if (ready == 0) {
        endPause();
        return true;
    }
    if (ready < 0 || (tty.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
        return false;
    return readKeys() > 0;
}
