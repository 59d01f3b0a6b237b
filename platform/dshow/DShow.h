#pragma once
// The media graph: every interface, class id and event code, and the
// registration of the graph's classes with CoCreateInstance.
#include "platform/com/ClassTable.h"
#include "platform/dshow/Clock.h"
#include "platform/dshow/Control.h"
#include "platform/dshow/EventCodes.h"
#include "platform/dshow/Filters.h"
#include "platform/dshow/MediaType.h"
#include "platform/dshow/Uuids.h"

// Registers CLSID_FilterGraph and CLSID_SystemClock with the class table.
// Safe to call any number of times from any thread; returns true.
bool RegisterMediaGraphClasses();

// Every program that includes this header registers the classes before main.
inline const bool g_mediaGraphClassesRegistered = RegisterMediaGraphClasses();
