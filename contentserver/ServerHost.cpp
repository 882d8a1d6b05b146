#include "contentserver/ServerHost.h"

#include "contentserver/MyMemFile.h"

int g_nServerPort = 8024;

CServerHost::CServerHost() : m_strRoot(MEMFILE_ROOT) {
    char szName[256] = {};
    if (gethostname(szName, 255) == 0 && szName[0] != '\0') {
        szName[255] = '\0';
        m_strHostName = szName;
    } else {
        m_strHostName = "LOCALHOST";
    }
}
