#pragma once
// What the commands tell about an editing timeline besides playing it: the
// entries the editing services log while reading it (parts that are not
// rendered, clips that are skipped) are printed on standard error.
#include <string>

#include "platform/des/Des.h"

// Prints each log entry as "velotrax: note: TEXT (EXTRA)" on standard error;
// a failure is also left as the thread's error information, so that the
// exception raised for it carries the description.
class CNoteErrorLog : public CUnknownImpl<CNoteErrorLog, IAMErrorLog> {
public:
    HRESULT LogError(long severity, const std::string& text, long errorCode, HRESULT hr,
                     const DES_VARIANT* extra) override;
};

// Reads an XTL file only to print its notes; failures are left to whoever
// opens the file afterwards.
void PrintTimelineNotes(const std::string& path);
