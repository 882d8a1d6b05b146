// The document's view of its element index, for the engine's own sources: the record store lies
// below the document and knows nothing of it.
#pragma once

#include "xml/XmlDocument.h"
#include "xml/XmlRecords.h"

inline XmlElemRecord& CXmlDocument::RecordAt(int i) const {
    return m_pRecords->At(i);
}
