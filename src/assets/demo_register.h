#pragma once

#include "assets/asset_register.h"
#include "common/result.h"

#include <QDate>

namespace kx {

// The register the demo opens: about ten assets of different kinds and places, each with
// three to eight years of yearly tests and their readings. One winding falls steeply (about
// 40 % a year, crossing its minimum within two years), one shows a sharp drop in its last
// test; the rest hold steady or fade slowly. The same `lastDay` gives the same register.
// Assets already there are left as they are; filing again files nothing new.
Status fillDemoRegister(AssetRegister& reg, QDate lastDay);
// The demo's tests end about a month before today.
Status fillDemoRegister(AssetRegister& reg);

// The demo's own SQLite file, in a folder of its own under the system's temporary folder:
// never the user's register.
DatabaseLocation demoDatabaseLocation();

} // namespace kx
