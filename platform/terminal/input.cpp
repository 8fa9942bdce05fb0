// The input room: keys are read as bytes, once a frame, and decoded by the
// text library's key decoder, whose reader knows an ESC followed by anything unknown for what
// it is rather than the Escape key, so a stray sequence cannot end the game.
// Where the terminal offers the progressive keyboard protocol we turn it on
// and keep true key-down state; elsewhere each key is a latch set by its
// presses and auto-repeats.
#include "platform/terminal/input.h"

#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>

#include "platform/platform.h"
#include "platform/terminal/clock.h"
#include "platform/terminal/session.h"
#include "platform/terminal/signals.h"
#include "platform/text/keys.h"
#include "platform/text/keystate.h"
#include "platform/text/line.h"
#include "platform/text/screen.h"

namespace {

struct Input {
    GameKeys keys;         // down now only with the protocol; otherwise latches
    bool enterSeen;        // an Enter typed during play, kept for the exit prompt
    bool protocolOffered;  // the terminal answered the protocol query
    bool queryOutstanding; // its answer to the attributes request is still to come
    bool enhanced;         // presses, repeats and releases are being reported
    bool atPrompt;         // past play: the protocol stays off
    bool looked;           // the pause ended with nothing waiting
    bool heard;            // bytes came since a silence last settled a sequence
    int emptyReads;        // reads in a row that found nothing, though told otherwise
    KeyDecoder decoder;    // a sequence may be cut across reads
    PromptLine line;       // what is typed at the prompt
};
Input in;

// However much is waiting, a frame stops taking it in after this long, so a
// flood cannot hold up the game; the rest comes in on the next frames.
constexpr long floodLimitNs = 10'000'000;

enum Ready { readable, timeUp, interrupted, cannotWait };

// Waits on the terminal until it has something to read, a signal arrives
// or the limit passes (no limit when negative). select, not poll: poll is
// unreliable on terminal devices on some systems.
Ready waitOnTerminal(long limitNs)
{
    fd_set fds;
    FD_ZERO(&fds);
    FD_SET(STDIN_FILENO, &fds);
    // The microseconds field is a long on Linux and an int on macOS.
    timeval limit{};
    limit.tv_sec = static_cast<decltype(limit.tv_sec)>(limitNs / 1'000'000'000L);
    limit.tv_usec = static_cast<decltype(limit.tv_usec)>((limitNs % 1'000'000'000L) / 1000);
    const int n = select(STDIN_FILENO + 1, &fds, nullptr, nullptr, limitNs < 0 ? nullptr : &limit);
    if (n > 0)
        return readable;
    if (n == 0)
        return timeUp;
    return errno == EINTR ? interrupted : cannotWait;
}

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

// At the prompt every key goes to the line, and the echo to the terminal.
void edit(const KeyEvent& e)
{
    char echo[lineEchoMax];
    const LineResult result = editLine(in.line, e, echo);
    screenEcho(echo);
    // The end of input answers the prompt as Enter does.
    if (result != lineOpen)
        in.enterSeen = true;
}

void apply(const KeyEvent& e)
{
    if (in.atPrompt && !in.enterSeen && (e.key == keyEnter || e.key == keyChar)) {
        edit(e);
        return;
    }
    if (KeyState* k = keyStateOf(in.keys, e.key)) {
        noteKey(*k, e.action != keyRelease, in.enhanced);
        return;
    }
    switch (e.key) {
    case keyEnter:
        if (e.action == keyPress)
            in.enterSeen = true;
        break;
    // In the protocol these chords arrive as keys, not as signals.
    case keyInterrupt: signalsRequestEnd(SIGINT); break;
    case keyQuit: signalsRequestEnd(SIGQUIT); break;
    case keySuspend: signalsRequestSuspend(); break;
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

// Takes in everything the terminal has waiting (the wait said there is
// something), until it has no more or the time limit passes. A read error,
// or nothing to read from a terminal that is no longer there, is a hangup;
// so is nothing to read, again and again, where the terminal cannot tell.
void takeIn(long untilNs)
{
    unsigned char bytes[4096];
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, bytes, sizeof bytes);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        in.emptyReads = n == 0 ? in.emptyReads + 1 : 0;
        if (n < 0 || (n == 0 && (sessionTerminalLost() || in.emptyReads >= 3))) {
            signalsRequestEnd(SIGHUP);
            return;
        }
        if (n == 0)
            return;
        in.heard = true;
        for (ssize_t i = 0; i < n; ++i) {
            KeyEvent e;
            if (feedKey(in.decoder, bytes[i], &e))
                apply(e);
        }
        if (n < static_cast<ssize_t>(sizeof bytes) || monotonicNs() >= untilNs)
            return;
    }
}

// Input has fallen silent: a sequence left unfinished ends.
void settleSequence()
{
    KeyEvent e;
    if (settleKeys(in.decoder, &e))
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

void inputPause(int ms)
{
    const long end = monotonicNs() + ms * 1'000'000L;
    for (long left = end - monotonicNs(); left > 0 && signalsEndingSignal() == 0;
         left = end - monotonicNs()) {
        const Ready ready = waitOnTerminal(left);
        if (ready == timeUp) {
            in.looked = true;
            return;
        }
        if (ready == readable) {
            takeIn(end);
        } else if (ready == cannotWait) {
            // Not a hangup: the pause is still taken, by the clock alone.
            timespec rest{left / 1'000'000'000L, left % 1'000'000'000L};
            while (nanosleep(&rest, &rest) != 0 && errno == EINTR && signalsEndingSignal() == 0) {
            }
            return;
        }
    }
}

void inputDrain()
{
    // A pause that ended with nothing waiting has looked already: an idle
    // frame costs no read.
    if (!in.looked && waitOnTerminal(0) == readable)
        takeIn(monotonicNs() + floodLimitNs);
    in.looked = false;
    // A whole frame with nothing new ends a sequence left unfinished.
    if (!in.heard)
        settleSequence();
    in.heard = false;
}

int inputPolled(int key) { return pollKey(in.keys, key); }

bool inputEnterSeen() { return in.enterSeen; }
void inputProtocolOff() { popProtocol(); }
void inputProtocolOn() { pushProtocol(); }

void inputCollectLateAnswer()
{
    const long end = monotonicNs() + 100'000'000L;
    while (in.queryOutstanding && signalsEndingSignal() == 0 && monotonicNs() < end)
        if (waitOnTerminal(end - monotonicNs()) == readable)
            takeIn(end);
}

void inputLetGo() { letGoKeys(in.keys); }
bool inputEscapePressed() { return escapePressed(in.keys); }

void inputEnterPrompt(LineKeys keys, int maxColumns)
{
    in.atPrompt = true;
    popProtocol();
    in.enhanced = false;
    startLine(in.line, keys, maxColumns);
}

void inputShowLine(int maxColumns)
{
    if (!in.atPrompt)
        return;
    char text[lineCapacity + 1];
    lineShown(in.line, maxColumns, text);
    screenEcho(text);
}

bool inputWait(long limitNs)
{
    // Nothing typed costs no wake-up; with a sequence begun, a short silence
    // ends it, so that a stray ESC [ cannot hold up the Enter after it.
    constexpr long silenceNs = 50'000'000L;
    const bool shorter = keysPending(in.decoder) && (limitNs < 0 || limitNs > silenceNs);
    const Ready ready = waitOnTerminal(shorter ? silenceNs : limitNs);
    if (ready == readable)
        takeIn(monotonicNs() + floodLimitNs);
    else if (ready == timeUp)
        settleSequence();
    screenFlush(); // the echo
    // A terminal that cannot be waited on any more gives no more input.
    return ready != cannotWait;
}
