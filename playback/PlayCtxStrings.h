#pragma once
// String ids of the play context's own texts (resources/strings/playctx.*.txt).

// "The editing timeline "%1" cannot be opened: …"
constexpr unsigned IDS_PLAYCTX_TIMELINE_UNSUPPORTED = 0x7100;
