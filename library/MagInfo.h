// CMagInfo: one magazine issue or book on the shelf, as the store describes it, with where its
// package lies and how far its download has come.
#pragma once

#include "platform/afx.h"

// The download state of a record (CMagInfo::down).
enum {
    DOWN_STATE_STOPPED = 0, // not downloading: never started, stopped or failed
    DOWN_STATE_LOADING = 1, // a download worker runs for it
    DOWN_STATE_DONE = 2,    // the package is complete at savepath
    DOWN_STATE_WAITING = 3, // queued
};

class CMagInfo {
public:
    CMagInfo() = default;
    CMagInfo(const CMagInfo&) = default;
    CMagInfo& operator=(const CMagInfo&) = default;
    virtual ~CMagInfo() = default;

    // downlen * 100 / filelen, 0 while the total is unknown. Computed in 64 bits: a product in
    // 32 bits wraps as soon as more than 21,474,836 bytes are done.
    static int CalcPercent(LONGLONG nDone, LONGLONG nTotal);
    int GetPercent() const { return CalcPercent(downlen, filelen); }

    CString id;
    CString pid; // the key: a list holds each pid once
    CString sort_id;
    CString class_id;
    CString brand_id;
    CString feature;
    CString name;
    CString date;
    CString isFullSwf;
    CString price;
    CString exe_size;
    CString load_url;
    CString pic1;
    CString s_pic;
    CString description;
    CString rec_content;
    CString add_time;
    // Lengths are 64-bit so that packages of 2 GiB and more keep their true size; the booklist
    // text of an ordinary length is the same as with a 32-bit count.
    LONGLONG filelen = 0;
    LONGLONG downlen = 0;
    int down = DOWN_STATE_STOPPED;
    CString type; // "mag" or "book"
    CString savepath;
};

// The lists of the shelf store hold records by pointer.
using CMagInfoList = CArray<CMagInfo*, CMagInfo*>;
