#include "RARArchiveInformation.h"

void TRARArchiveInformation::Reset() { *this = TRARArchiveInformation{}; }
