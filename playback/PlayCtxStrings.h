#pragma once
// String ids of the play context's own texts (resources/strings/playctx.*.txt).

constexpr unsigned IDS_PLAYCTX_IS_FOLDER = 0x7100;
constexpr unsigned IDS_PLAYCTX_NO_CONNECTION = 0x7101;
constexpr unsigned IDS_PLAYCTX_NO_ANSWER = 0x7102;
