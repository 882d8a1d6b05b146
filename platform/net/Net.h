// Sockets in one include.
#pragma once

#include "platform/net/Winsock.h"
#include "platform/net/AsyncSocket.h"
