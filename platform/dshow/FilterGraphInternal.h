#pragma once
// Helpers the filter graph's files share. Internal to platform/dshow.
#include <gst/gst.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dshow/ElementFilter.h"

namespace vagraph {

CPadPin* PinOf(GstPad* pad);
// The core of one of our filters, or null for a foreign object.
CFilterCore* CoreOf(IBaseFilter* filter);
// Our pin behind an IPin, or null.
CPadPin* GraphPin(IPin* pin);
bool HasSometimesSrcPads(GstElement* element);
// The element's pads of one direction, each holding a reference.
std::vector<GstPad*> PadsOf(GstElement* element, GstPadDirection direction);
void UnrefPads(std::vector<GstPad*>& pads);
int64_t NowMs();

}  // namespace vagraph
