#pragma once
// Symbolic names of media subtypes, as the diagnostic text shows them.
#include "platform/com/Guid.h"

namespace deint {

// "MEDIASUBTYPE_RGB32" and the like; "Unknown GUID Name" for a subtype
// without a name.
const char* SubtypeName(const GUID& subtype);

}  // namespace deint
