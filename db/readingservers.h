#pragma once

namespace orvela {

class Database;
struct ServerConfig;

// What keeps reads from hot standbys as good as reads from the primary.
namespace ReadingServers {

// Whether a reading connection may answer now: it leads to a primary, or to a standby that
// has applied everything it received while it still streams, or whose last applied change
// was committed at most lagMax seconds ago. False when the question fails.
bool fresh(Database& reading, int lagMax);

// After a change: waits, up to the configured lag bound, until every reading server that can
// be reached has applied what the primary has written so far, so that the client's next
// request reads its change back wherever it is served. A server that does not catch up in
// time lags beyond the bound from then on until it does, and is passed over by readers.
// A connection kept open to the only reading server is asked instead of a new one.
void awaitApplied(Database& primary, const ServerConfig& config, Database* keptReading = nullptr);

} // namespace ReadingServers
} // namespace orvela
