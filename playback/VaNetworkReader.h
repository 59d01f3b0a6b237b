#pragma once
// CVaNetworkReader: the network source filter the play context tries first
// for network and Windows Media names ("WM ASF Reader"). It reads any URI
// GStreamer has a source for and tells streaming from downloading sources.
#include "platform/dshow/DShow.h"

// Registers the reader under CLSID_WMAsfReader (once; any thread).
bool RegisterNetworkReaderClass();
