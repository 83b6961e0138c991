// STUB
#include "runtime/runtime.h"
int ArrayToFile(const char*, const void*, int, int, int, int, int, int, int, int, int) {
    return FILE_ERR_WRITE;
}
int FileToArray(const char*, void*, int, int, int, int, int, int) {
    return FILE_ERR_OPEN;
}
int ArrayFileErrorIndex() {
    return 0;
}
