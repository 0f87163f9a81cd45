// Stands in for the running updater in the Windows file semantics test: a
// program that runs until it is ended.
#include <windows.h>

int main()
{
    Sleep(INFINITE);
    return 0;
}
