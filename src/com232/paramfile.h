// The parameter file: the sixteen words of the parameter block as ASCII text,
// in slot order, as one group of unsigned numbers. Reading and writing only;
// the dialogs and the panel are the front end's.
#pragma once

#include <cstdint>

namespace orv {

constexpr const char* PARA_FILE_DEFAULT = "KXpara.dat";
constexpr int PARA_FIELD_WIDTH = 4;
constexpr uint32_t PARA_WORD_MAX = 65535;  // every word of the file fits 16 bits

// Writes block[0..15] to `path`, replacing the file, and shows the outcome:
// "<name> written" or "Cannot write <name>". Returns 0 or a negative
// array-file code.
int WriteParaFile(const char* path, const int32_t* block);
// Reads a parameter file into block[0..15] and shows "<name> loaded". A file
// that cannot be opened or does not hold sixteen numbers of 0..65535 leaves
// `block` as it was and says why. Returns 0 or a negative code.
int ReadParaFile(const char* path, int32_t* block);

}  // namespace orv
