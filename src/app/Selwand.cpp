// Selwand: direct backup with online monitoring.
#include <cstdio>

int main()
{
    std::fputs("Selwand: monitoring is not available in this build yet.\n", stderr);
    return 1;
}
