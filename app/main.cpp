#include "kubus/kulog.h"

int main(int, char**)
{
    Kubus::kuPrint("About to exit app.", "int main(int, char**)");
    return 0;
}
