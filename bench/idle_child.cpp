// An idle process for filling the process table. It waits for a signal and ends on its own
// after the number of seconds given as its argument (default 600), or when its parent dies.
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    int seconds = argc > 1 ? atoi(argv[1]) : 600;
    if (seconds < 1 || seconds > 3600) seconds = 600;
    alarm(static_cast<unsigned>(seconds));  // SIGALRM's default action ends the process
    for (;;) pause();
}
