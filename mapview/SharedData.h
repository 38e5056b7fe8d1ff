#pragma once

#include <QString>

namespace velmora {

/// The folder of the data the console ships and never changes: the page's
/// images/, its assets/ (Leaflet, the base map) and geonames/ (the places
/// the geocoder names).
///
/// Installed, that is <prefix>/share/velmora beside <prefix>/bin, found from
/// the running executable, so a copy installed anywhere (a staging root
/// included) finds its own data. The build tree has the same shape
/// (<build>/app/velmora and <build>/share/velmora); programs elsewhere in
/// the build tree (the test binaries) fall back to the build's folder.
class SharedData {
public:
    /// The folder, absolute; found once.
    static const QString& getDirectory();
    /// getDirectory() + "/" + relative.
    static QString path(const QString& relative);
    /// The folder for an executable at executable, or empty when there is
    /// none beside it.
    static QString besideExecutable(const QString& executable);
};

} // namespace velmora
