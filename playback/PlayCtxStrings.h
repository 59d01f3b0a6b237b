#pragma once
// String ids of the play context's own texts (resources/strings/playctx.*.txt).
