#pragma once

#include "mapview/MBTilesSource.h"
#include "mapview/PageDocumentView.h"

#include <QString>
#include <QTemporaryDir>

#include <string>

namespace velmora {

/// An MBTiles file of a square block of zoom-12 tiles round Lyon (with the
/// levels above it from zoom 8), made in a temporary folder, and the page
/// loading its tiles as images through the velmora scheme, as the map does
/// (in batches, through the page's TileBatcher).
/// Shared by the tile bench and the map bench.
class CityTiles {
public:
    static constexpr int ZOOM = 12;
    static constexpr double LAT = 45.7640;
    static constexpr double LNG = 4.8357;
    /// Tiles asked for at once: about what a map view of 1280 x 800 needs.
    static constexpr int VIEW_TILES = 24;

    /// A block of at least tiles tiles.
    explicit CityTiles(int tiles);

    /// Writes the file and opens it; the problem's text, or empty.
    QString open();

    /// Tiles per second the page loaded, VIEW_TILES at a time; 0 when it
    /// failed. Loads part of parts of the block: a page keeps the pictures
    /// it has seen, so each round gets tiles of its own. The source must be
    /// installed on the page's scheme handler.
    double loadRate(PageDocumentView& page, int part, int parts) const;

    int getTiles() const { return tiles; }
    int getX0() const { return x0; }
    int getY0() const { return y0; }
    int getSide() const { return side; }
    const std::string& getPath() const { return path; }
    MBTilesSource& getSource() { return source; }
    const MBTilesSource& getSource() const { return source; }

private:
    QTemporaryDir dir;
    int tiles;
    int side;
    int x0 = 0, y0 = 0;
    std::string path;
    MBTilesSource source;
};

} // namespace velmora
