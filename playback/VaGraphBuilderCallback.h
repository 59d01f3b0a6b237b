#pragma once
// IVaGraphBuilderCallback: what the owner of a filter graph (the play
// context) is told while the graph builder picks and creates filters.
// Not reference counted; the owner implements it as an embedded base.
#include "platform/dshow/DShow.h"

class IVaGraphBuilderCallback {
public:
    // The builder chose a filter; the owner releases 'moniker' and answers
    // true to accept it.
    virtual bool SelectedFilter(IMoniker* moniker) = 0;
    // The builder created a filter; the owner releases 'filter'.
    virtual void CreatedFilter(IBaseFilter* filter) = 0;
    virtual ~IVaGraphBuilderCallback() = default;
};
