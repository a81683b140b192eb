#pragma once

namespace orvela {

class HttpOrvelaServer;

// Display unit and precision the client asked for, one group per resource.
struct UnitGroup {
    bool unitGiven = false;
    int edId = 0;
    int precision = -1; // decimals, or -1 to leave the text as it is
};

struct UserUnitSettings {
    UnitGroup heat;
    UnitGroup electricity;
    UnitGroup water;
    UnitGroup gas;
};

// Reads and checks "EdTeplo", "EdElectro", "EdVoda", "EdGas" and the four "Precise..."
// parameters into the request; on a bad value it answers with its code and returns false.
bool readUserUnitSettings(HttpOrvelaServer& request);

} // namespace orvela
