// Starts the meter (terminal front-end, output piped) and prints the milliseconds
// from the start of the process to its first status line, which the first tick
// prints. Usage: first_tick PROGRAM [ARG...]
#include <chrono>
#include <csignal>
#include <cstdio>

#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    int output[2];
    if (::pipe(output) != 0) {
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(output[1], STDOUT_FILENO);
        ::close(output[0]);
        ::execv(argv[1], argv + 1);
        ::_exit(127);
    }
    ::close(output[1]);
    char c = 0;
    while (::read(output[0], &c, 1) == 1 && c != '\n') {
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ::kill(child, SIGTERM);
    while (::read(output[0], &c, 1) == 1) {
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    std::printf("%.1f\n", std::chrono::duration<double, std::milli>(elapsed).count());
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
