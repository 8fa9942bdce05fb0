// The game's filter, a call a child set up as the game is once it plays: what it
// makes passes; anything else ends it by SIGSYS, the terminal given back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "platform/terminal/confine.h"
#include "platform/terminal/signals.h"

namespace {

alignas(4096) long scratch[512]; // every pointer: a zero time, an empty path, space for modes
const long at = reinterpret_cast<long>(scratch), self = -2; // self: the child's own pid
const timespec aWhile{0, 400'000'000L};
struct Call {
    const char* what;
    long number, args[4];
    bool passes;          /* or SIGSYS */
    bool stopped = false; // stopped and continued while it lasts
} const calls[] = {
    {"read a key", SYS_read, {STDIN_FILENO, at, 1}, true},
    {"write the screen", SYS_write, {STDOUT_FILENO, at, 0}, true},
    {"wait on the terminal", SYS_pselect6, {0, 0, 0, 0}, true}, // limit: at, zero
    {"sleep", SYS_clock_nanosleep, {CLOCK_MONOTONIC, 0, at}, true},
    {"sleep through a stop", SYS_nanosleep, {reinterpret_cast<long>(&aWhile), 0}, true, true},
    {"read the modes", SYS_ioctl, {STDIN_FILENO, TCGETS, at}, true},
    {"set the modes", SYS_ioctl, {STDIN_FILENO, TCSETS, at}, true},
    {"read the size", SYS_ioctl, {STDOUT_FILENO, TIOCGWINSZ, at}, true},
    {"signal itself", SYS_tgkill, {self, self, SIGWINCH}, true},
    {"open a file", SYS_openat, {AT_FDCWD, at, O_RDONLY}, false},
    {"make a socket", SYS_socket, {AF_INET, SOCK_STREAM}, false},
    {"connect", SYS_connect, {STDIN_FILENO, at, 16}, false},
    {"start a program", SYS_execve, {at, 0, 0}, false},
    {"fork", SYS_clone, {SIGCHLD}, false},
    {"trace itself", SYS_ptrace, {0}, false}, // PTRACE_TRACEME
    {"make memory run", SYS_mprotect, {at, sizeof scratch, PROT_READ | PROT_EXEC}, false},
    {"type into the terminal", SYS_ioctl, {STDIN_FILENO, TIOCSTI, at}, false},
    {"signal another", SYS_kill, {1, 0}, false},
};

// Output to standard error, which the death test reads; input from nowhere; SIGSYS
// ignored, as a wrapper may leave it, which must not stop the crash path.
void confinedThen(const Call& call)
{
    dup2(STDERR_FILENO, STDOUT_FILENO);
    dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
    signal(SIGSYS, SIG_IGN);
    signalsCatch();
    signalsStartCrashReset();
    for (const char* c = "[given back]"; *c != '\0'; ++c)
        signalsAddToCrashReset(*c);
    signalsArmCrashReset(termios{});
    long a[4];
    for (int i = 0; i < 4; ++i)
        a[i] = call.args[i] == self ? getpid() : call.args[i];
    if (call.stopped && fork() == 0) {
        const pid_t confined = getppid();
        usleep(100'000);
        kill(confined, SIGSTOP);
        usleep(100'000);
        kill(confined, SIGCONT);
        _exit(0);
    }
    const bool confined = confineInstallFilter();
    syscall(call.number, a[0], a[1], a[2], a[3], at);
    _exit(confined ? 0 : 77);
}

} // namespace

TEST(Confine, PassesWhatTheGameDoesAndEndsItOnAnythingElse)
{
    for (const Call& call : calls) {
        SCOPED_TRACE(call.what);
        EXPECT_EXIT(
            confinedThen(call),
            [&](int s) { return call.passes ? s == 0 : WIFSIGNALED(s) && WTERMSIG(s) == SIGSYS; },
            call.passes ? "" : "given back");
    }
}
