#pragma once
// 16-bit Windows metafiles (WMF): the placeable (Aldus) and plain headers, and the player that
// carries out the records on a MetafileCanvas.
//
// Placement: the picture is the rectangle `frame` of the metafile's logical space. The canvas
// starts with that rectangle as both window and viewport (the device units being the
// frame's own), the way a player sets up MM_ANISOTROPIC before playing; the window and
// viewport records then change the mapping from there. SETMAPMODE is not followed: a
// metafile has no device of its own to measure in.

#include "imaging/MetafileRecordTable.h"

#include <QByteArrayView>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <cstdint>
#include <optional>

class MetafileCanvas;

/// What a 16-bit metafile's headers say about its place on the page.
struct WmfHeader {
    bool placeable = false;
    QRectF frame;          ///< logical units: the placeable bounds, or the window the records set (normalised)
    QPointF windowOrg;     ///< the window the records start with (placeable: the bounds)
    QSizeF windowExt;      ///< may be negative (an axis that runs the other way)
    int unitsPerInch = 96; ///< placeable: the header's; plain: logical units taken as 96 dpi pixels
    qsizetype recordsOffset = 0; ///< where the first record starts
};

/// Reads the headers. A plain metafile takes its frame from its first SETWINDOWORG and
/// SETWINDOWEXT records; with no SETWINDOWEXT the frame stays empty and the caller measures the
/// drawing. Empty when the bytes are no metafile or a placeable header is unusable.
std::optional<WmfHeader> ReadWmfHeader(QByteArrayView bytes);

/// Plays a 16-bit metafile's records on a canvas.
class WmfRenderer {
public:
    WmfRenderer(QByteArrayView bytes, const WmfHeader& header, MetafileCanvas& canvas)
        : m_Bytes(bytes), m_Header(header), m_Canvas(canvas)
    {
    }

    /// Sets the canvas up for the frame and plays the records up to META_EOF or the end of the
    /// bytes. Unknown records are skipped; a record that does not fit ends the playing (false),
    /// with what came before drawn.
    bool Play();

private:
    using Function = std::uint16_t;
    using RecordTable = MetafileRecordTable<WmfRenderer, Function>;

    /// Plays one record (not META_EOF) through its row of the record table.
    bool PlayRecord(std::uint16_t function, MetafileRecordReader& r);
    // The record table's rows, by what the records do.
    static RecordTable::Rows MappingRecords();
    static RecordTable::Rows StateRecords();
    static RecordTable::Rows ObjectRecords();
    static RecordTable::Rows DrawingRecords();

    bool SetExtent(std::uint16_t function, MetafileRecordReader& r);
    bool ScaleExtent(std::uint16_t function, MetafileRecordReader& r);
    bool ClipRect(std::uint16_t function, MetafileRecordReader& r);
    bool ArcRecord(std::uint16_t function, MetafileRecordReader& r);
    bool BoxRecord(std::uint16_t function, MetafileRecordReader& r);
    bool RoundRect(MetafileRecordReader& r);
    bool PatBlt(MetafileRecordReader& r);
    bool SetPixel(MetafileRecordReader& r);
    bool CreatePen(MetafileRecordReader& r);
    bool CreateBrush(MetafileRecordReader& r);
    bool Poly(std::uint16_t function, MetafileRecordReader& r);
    bool PolyPolygon(MetafileRecordReader& r);
    bool TextOut(MetafileRecordReader& r);
    bool ExtTextOut(MetafileRecordReader& r);
    bool CreatePatternBrush(std::uint16_t function, MetafileRecordReader& r);
    bool CreateFont(MetafileRecordReader& r);
    bool CreateRegion(MetafileRecordReader& r);
    bool Bitmap(std::uint16_t function, MetafileRecordReader& r);
    bool RegionRecord(std::uint16_t function, MetafileRecordReader& r);
    void Select(std::uint16_t index);

    QByteArrayView m_Bytes;
    WmfHeader m_Header;
    MetafileCanvas& m_Canvas;
};
