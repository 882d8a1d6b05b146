#include "library/MagInfo.h"

int CMagInfo::CalcPercent(LONGLONG nDone, LONGLONG nTotal) {
    if (nTotal <= 0)
        return 0;
    return static_cast<int>(nDone * 100 / nTotal);
}
