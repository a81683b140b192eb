#pragma once

namespace orvela {

extern const char* const kCreationScripts[];
extern const int kCreationScriptCount;
extern const char kGetArchiveHead[];
extern const char kGetArchiveBody[];
extern const char kGetArchiveTail[];

} // namespace orvela
