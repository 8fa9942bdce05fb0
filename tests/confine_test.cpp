// The filter the game confines itself with, in a child process as the game
// is once it plays: what it needs passes; what it never does ends it by
// SIGSYS, after the crash handler has given the terminal back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>

#include "platform/terminal/confine.h"
#include "platform/terminal/signals.h"

namespace {

// Output to standard error, which the death test reads; input from nowhere;
// SIGSYS ignored, as a wrapper may leave it, which must not stop the crash
// path. 77: the system refused the filter.
void confinedThen(void (*call)())
{
    dup2(STDERR_FILENO, STDOUT_FILENO);
    dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
    signal(SIGSYS, SIG_IGN);
    signalsCatch();
    CrashReset reset{"[given back]", 12, {}};
    signalsArmCrashReset(reset);
    if (!confineInstallFilter())
        _exit(77);
    call();
    _exit(0);
}

alignas(4096) char page[4096];
char* const shell[] = {const_cast<char*>("/bin/true"), nullptr};
struct Row {
    const char* what;
    void (*call)();
    int diesBy; // 0: it passes
    const char* shown;
};
const Row rows[] = {
    {"a frame", [] {
         fd_set in;
         FD_ZERO(&in);
         FD_SET(STDIN_FILENO, &in);
         timeval none{};
         timespec t{0, 1000}, now{};
         termios modes{};
         winsize size{};
         char key;
         select(1, &in, nullptr, nullptr, &none);
         [[maybe_unused]] const auto n = read(STDIN_FILENO, &key, 1) + write(STDOUT_FILENO, "drawn", 5);
         syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &now); // not the vDSO's
         nanosleep(&t, nullptr);
         ioctl(STDOUT_FILENO, TIOCGWINSZ, &size);
         tcgetattr(STDIN_FILENO, &modes);
         tcsetattr(STDIN_FILENO, TCSANOW, &modes);
     }, 0, "drawn"},
    {"a change of size", [] { raise(SIGWINCH), _exit(signalsTakeResize() ? 0 : 1); }, 0, ""},
    {"an ending signal", [] { signalsEndBy(SIGTERM); }, SIGTERM, ""},
    {"a crash", [] { raise(SIGSEGV); }, SIGSEGV, "given back"},
    {"openat", [] { open("/etc/hostname", O_RDONLY); }, SIGSYS, "given back"},
    {"socket", [] { socket(AF_INET, SOCK_STREAM, 0); }, SIGSYS, "given back"},
    {"connect", [] { connect(STDIN_FILENO, nullptr, 0); }, SIGSYS, "given back"},
    {"execve", [] { execv(shell[0], shell); }, SIGSYS, "given back"},
    {"fork", [] { fork(); }, SIGSYS, "given back"},
    {"ptrace", [] { ptrace(PTRACE_TRACEME, 0, nullptr, nullptr); }, SIGSYS, "given back"},
    {"mprotect to run", [] { mprotect(page, sizeof page, PROT_READ | PROT_EXEC); }, SIGSYS, "given back"},
    {"ioctl that types", [] { ioctl(STDIN_FILENO, TIOCSTI, "x"); }, SIGSYS, "given back"},
    {"kill another", [] { kill(1, 0); }, SIGSYS, "given back"},
    {"write elsewhere", [] { [[maybe_unused]] auto n = write(9, "x", 1); }, SIGSYS, "given back"},
};

} // namespace

TEST(Confine, PassesWhatTheGameDoesAndEndsItOnAnythingElse)
{
    // Under an emulator that refuses a filter, or a sanitizer's runtime,
    // the game plays unconfined; elsewhere it must not.
    int status = 0;
    if (const pid_t probe = fork(); probe == 0)
        _exit(confineToTerminal() ? 0 : 77);
    else
        waitpid(probe, &status, 0);
    if (WEXITSTATUS(status) == 77 && BLOCKFALL_MAY_PLAY_UNCONFINED)
        GTEST_SKIP() << "the game plays unconfined here";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.diesBy == 0)
            EXPECT_EXIT(confinedThen(row.call), testing::ExitedWithCode(0), row.shown);
        else
            EXPECT_EXIT(confinedThen(row.call), testing::KilledBySignal(row.diesBy), row.shown);
    }
}
