#pragma once

// A reading whose first error element names an error (a whole JSON number above 0),
// acknowledged or not. The error look-ups of the readings and the partial index of each yearly
// archive share this text, so that the index serves them; a row of any other shape, or a code
// that is no whole number, never matches and never makes the expression fail.
#define ORVELA_ARCHIVE_ERROR_CONDITION                                                                         \
    "(json_typeof(\"JsonErr\")='array') AND ((CASE WHEN json_typeof(\"JsonErr\"->0->'errorCode')='number' AND " \
    "(\"JsonErr\"->0->>'errorCode') ~ '^[0-9]{1,18}$' THEN (\"JsonErr\"->0->>'errorCode')::bigint ELSE 0 END) > 0)"

namespace orvela {

extern const char* const kCreationScripts[];
extern const int kCreationScriptCount;
extern const char kGetArchiveHead[];
extern const char kGetArchiveBody[];
extern const char kGetArchiveTail[];

} // namespace orvela
