#include "OrvanscopeV10/OrvanscopeV10.h"

int main(int argc, char* argv[]) {
    return orv::WinMain(argc, argv);
}
