// Splits at a single character, trimming each piece and dropping empty and blank ones.
#pragma once

#include "platform/afx.h"

// Returns the number of pieces; the list is emptied first.
int SplitByChar(CString strText, CStringList& lstPieces, char chSeparator);
