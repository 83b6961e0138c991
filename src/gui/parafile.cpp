// STUB
#include "gui/parafile.h"
namespace orv {
void SendParaToFile() {}
void ReadParaFromFile() {}
}  // namespace orv
