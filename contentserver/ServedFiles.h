// Fixed addresses of the local server that answer from the program's own files on disk rather
// than from the loaded item: the reader's player page with its player, and the reader movie.
// They exist because the player plays in a page of the server's origin, and a page there may
// fetch nothing from elsewhere (the movie, then the item's pages, are same-origin fetches).
//
// Published from the user-interface thread, looked up by the server thread for each request;
// one std::mutex guards the table. Where a route points is asked at each request, so a movie
// that the update check installs in a newer folder is served from there at once.
#pragma once

#include "platform/afx.h"

#include <functional>

// Answers the address with the file the function names (a path of the program's Windows form).
// An address ending with "/" is a folder: what follows it in a request is a file below the
// function's folder, which must then end with a backslash. Publishing an address again replaces
// its route; a function that is empty removes it. Addresses compare without regard to case.
void PublishServedPath(const CString& strUrl, std::function<CString()> fnPath);

// The file a request's address (percent-decoded, without its query) is served from. FALSE when
// no route takes it. TRUE with strPath empty when a folder's route takes it but it names no file
// that may be served (a folder itself, a hidden name, a step up): the answer is then "not found".
// An exact address wins over a folder that holds it.
BOOL FindServedPath(const CString& strUrl, CString& strPath);
