// Marvick: backup schedules.
#include <cstdio>

int main()
{
    std::fputs("Marvick: schedules are not available in this build yet.\n", stderr);
    return 1;
}
