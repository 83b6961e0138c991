// The parameter file: the sixteen block words as ASCII text.
#pragma once

namespace orv {

constexpr const char* PARA_FILE_DEFAULT = "KXpara.dat";
constexpr const char* PARA_FILE_FILTER = "*.dat";
constexpr const char* PARA_FILE_TITLE = "M-DOR-KX-T460 Parameter File";

void SendParaToFile();
void ReadParaFromFile();

}  // namespace orv
