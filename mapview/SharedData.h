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
/// (<build>/app/velmora and <build>/share/velmora); other programs inside
/// the build tree (the test binaries) take the build's folder. A program
/// anywhere else without data beside it takes the folder of the
/// configured install prefix, never the build tree's.
class SharedData {
public:
    /// The folder, absolute; found once.
    static const QString& getDirectory();
    /// getDirectory() + "/" + relative.
    static QString path(const QString& relative);
    /// The folder for an executable at executable, or empty when there is
    /// none beside it.
    static QString besideExecutable(const QString& executable);
    /// Whether executable lies inside buildDirectory (links resolved).
    static bool inBuildTree(const QString& executable, const QString& buildDirectory);
    /// The folder getDirectory() gives a program at executable.
    static QString forExecutable(const QString& executable);
};

} // namespace velmora
