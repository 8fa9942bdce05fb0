// The key decoder. See keys.h.
#include "platform/text/keys.h"

namespace {

enum State { ground, escape, csi, ss3 };

// One decimal field of a sequence, bounded so that no input can overflow it.
// Returns the number, or `otherwise` when the field is empty.
int number(const char* p, const char* end, int otherwise)
{
    if (p == end || *p < '0' || *p > '9')
        return otherwise;
    int n = 0;
    for (; p != end && *p >= '0' && *p <= '9'; ++p)
        n = n < 100000 ? n * 10 + (*p - '0') : n;
    return n;
}

// The parameters of CSI ... final, split the protocol's way: fields by ';',
// sub-fields by ':'. Only what a key report uses is kept.
struct Fields {
    int code;      // first field: key number (1 for the arrows' legacy form)
    int modifiers; // second field, first sub-field: 1 + the modifier bits
    int action;    // second field, second sub-field: press, repeat or release
};

Fields split(const char* p, const char* end)
{
    Fields f{number(p, end, 1), 1, keyPress};
    const char* q = p;
    while (q != end && *q != ';')
        ++q;
    if (q == end)
        return f;
    ++q;
    f.modifiers = number(q, end, 1);
    while (q != end && *q != ':' && *q != ';')
        ++q;
    if (q != end && *q == ':') {
        f.action = number(q + 1, end, keyPress);
        if (f.action < keyPress || f.action > keyRelease)
            f.action = keyPress;
    }
    return f;
}

int arrow(unsigned char final)
{
    switch (final) {
    case 'A': return keyUp;
    case 'B': return keyDown;
    case 'C': return keyRight;
    case 'D': return keyLeft;
    default: return 0;
    }
}

int emit(KeyEvent* event, int key, int action, int value = 0)
{
    event->key = key;
    event->action = action;
    event->value = value;
    return 1;
}

// A whole CSI sequence has arrived: is it a key, a reply, or nothing of ours?
int finishCsi(const KeyDecoder& d, unsigned char final, KeyEvent* event)
{
    if (d.overflow)
        return 0;
    const char* p = d.params;
    const char* end = d.params + d.length;
    if (p != end && *p == '?') {
        if (final == 'u')
            return emit(event, replyProtocolFlags, keyPress, number(p + 1, end, 0));
        if (final == 'c')
            return emit(event, replyDeviceAttributes, keyPress);
        return 0;
    }
    for (const char* q = p; q != end; ++q)
        if (*q < '0' || *q > ';') // private markers and intermediates: not a key report
            return 0;
    const Fields f = split(p, end);
    const bool ctrl = ((f.modifiers - 1) & 4) != 0;
    if (const int key = arrow(final); key != 0)
        return f.code == 1 ? emit(event, key, f.action) : 0;
    if (final != 'u')
        return 0;
    switch (f.code) {
    case 27: return emit(event, keyEscape, f.action);
    case 13: return emit(event, keyEnter, f.action);
    case 'c': return ctrl && f.action == keyPress ? emit(event, keyInterrupt, keyPress) : 0;
    case 'z': return ctrl && f.action == keyPress ? emit(event, keySuspend, keyPress) : 0;
    case '\\': return ctrl && f.action == keyPress ? emit(event, keyQuit, keyPress) : 0;
    default: return 0;
    }
}

// A control typed inside an unfinished sequence is carried out as itself and
// the sequence goes on, as terminals do: an Enter after a stray ESC [ still
// answers the prompt.
int control(unsigned char byte, KeyEvent* event)
{
    if (byte == '\r' || byte == '\n')
        return emit(event, keyEnter, keyPress);
    return emit(event, keyChar, keyPress, byte);
}

bool isControl(unsigned char byte) { return (byte < 0x20 && byte != 0x1B) || byte == 0x7F; }

} // namespace

void resetKeys(KeyDecoder& d)
{
    d.state = ground;
    d.length = 0;
    d.overflow = false;
}

int feedKey(KeyDecoder& d, unsigned char byte, KeyEvent* event)
{
    switch (d.state) {
    case escape:
        if (byte == '[') {
            d.state = csi;
            d.length = 0;
            d.overflow = false;
            return 0;
        }
        if (byte == 'O') {
            d.state = ss3;
            return 0;
        }
        if (byte == 0x1B) // Escape pressed twice: the first one stands alone
            return emit(event, keyEscape, keyPress);
        d.state = ground;
        if (isControl(byte)) // Alt with Enter or Backspace: the key itself
            return control(byte, event);
        return 0; // ESC with a character: an Alt chord, not ours

    case ss3:
        if (byte == 0x1B) {
            d.state = escape;
            return 0;
        }
        if (isControl(byte))
            return control(byte, event);
        d.state = ground;
        if (const int key = arrow(byte); key != 0)
            return emit(event, key, keyPress);
        return 0;

    case csi:
        if (byte >= 0x20 && byte <= 0x3F) { // parameters and intermediates
            if (d.length < static_cast<int>(sizeof d.params))
                d.params[d.length++] = static_cast<char>(byte);
            else
                d.overflow = true;
            return 0;
        }
        if (byte >= 0x40 && byte <= 0x7E) {
            d.state = ground;
            return finishCsi(d, byte, event);
        }
        if (byte == 0x1B) { // a new sequence cuts this one short
            d.state = escape;
            return 0;
        }
        if (isControl(byte))
            return control(byte, event);
        d.state = ground; // not a sequence after all
        return 0;

    default:
        if (byte == 0x1B) {
            d.state = escape;
            return 0;
        }
        if (byte == '\r' || byte == '\n')
            return emit(event, keyEnter, keyPress);
        return emit(event, keyChar, keyPress, byte);
    }
}

int settleKeys(KeyDecoder& d, KeyEvent* event)
{
    const bool lone = d.state == escape;
    d.state = ground;
    return lone ? emit(event, keyEscape, keyPress) : 0;
}

bool keysPending(const KeyDecoder& d) { return d.state != ground; }
