// The window kernel in one include.
#pragma once

#include "platform/user/WinUser.h"
#include "platform/user/MsgQueue.h"
#include "platform/user/AfxObject.h"
#include "platform/user/AfxWnd.h"
#include "platform/user/AfxDialog.h"
#include "platform/user/AfxWinDC.h"
