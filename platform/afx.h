// The non-GUI half of the platform layer in one include, as the framework's own headers would be.
#pragma once

#include "platform/base/Win32Types.h"
#include "platform/base/AfxStr.h"
#if __has_include("platform/base/AfxColl.h")
#include "platform/base/AfxColl.h"
#endif
#if __has_include("platform/base/AfxGeom.h")
#include "platform/base/AfxGeom.h"
#endif
#if __has_include("platform/base/AfxTime.h")
#include "platform/base/AfxTime.h"
#endif
#if __has_include("platform/kernel/Kernel.h")
#include "platform/kernel/Kernel.h"
#endif
#if __has_include("platform/kernel/Threads.h")
#include "platform/kernel/Threads.h"
#endif
#if __has_include("platform/kernel/Module.h")
#include "platform/kernel/Module.h"
#endif
#if __has_include("platform/user/User.h")
#include "platform/user/User.h"
#endif
#if __has_include("platform/net/Net.h")
#include "platform/net/Net.h"
#endif
