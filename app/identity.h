#pragma once

#include <QString>

namespace orvela {

// The version is built from a prefix and the release date, so that a release only changes
// the date: "2.0" and "2021-07-15" give 2.0.21.0715.
constexpr const char kVersionPrefix[] = "2.0";
constexpr const char kReleaseDate[] = "2021-07-15";
constexpr const char kOrganisationName[] = "Brenna Ltd.";
constexpr const char kOrganisationDomain[] = "brenna.example";

QString versionFromRelease(const QString& prefix, const QString& releaseDate);
QString applicationVersion();
QString applicationName();

} // namespace orvela
