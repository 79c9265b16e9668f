#pragma once
// Enhanced metafiles (EMF): the header that places the picture on the page, and the player
// that carries out the records on a MetafileCanvas. EMF+ records (carried in comment records)
// are skipped; the EMF records that accompany them in dual files are drawn.

#include "imaging/MetafileRecordTable.h"

#include <QByteArrayView>
#include <QRectF>
#include <QSizeF>

#include <cstdint>
#include <optional>

class MetafileCanvas;

/// What an enhanced metafile's header says about its place on the page.
struct EmfHeader {
    QRectF bounds;             ///< rclBounds, device units, edges as stored
    QRectF frame;              ///< rclFrame, HIMETRIC, edges as stored
    QSizeF devicePixels;       ///< szlDevice: the reference device in pixels
    QSizeF deviceMillimetres;  ///< szlMillimeters, or szlMicrometers / 1000 when present
    std::uint32_t handles = 0; ///< entries of the object table (index 0 is reserved)

    /// Reference-device pixels per millimetre; 96 dpi when the header's sizes are unusable.
    QSizeF DevicePerMillimetre() const;
    /// The frame in device units.
    QRectF DeviceFrame() const;
};

/// Reads the header record. The picture's frame is rclFrame; when that is empty it is taken
/// from rclBounds (inclusive edges) through the reference device's resolution. Empty when the
/// bytes hold no header record or the frame is empty.
std::optional<EmfHeader> ReadEmfHeader(QByteArrayView bytes);

/// Plays an enhanced metafile's records on a canvas.
class EmfRenderer {
public:
    EmfRenderer(QByteArrayView bytes, MetafileCanvas& canvas) : m_Bytes(bytes), m_Canvas(canvas) {}

    /// Plays the records after the header up to EMR_EOF or the end of the bytes. Unknown
    /// records are skipped. A record whose size, counts or offsets do not fit ends the playing:
    /// the result is then false, and what came before is drawn.
    bool Play();

private:
    using Type = std::uint32_t;
    using RecordTable = MetafileRecordTable<EmfRenderer, Type>;

    /// Plays one record (not the header, not EMR_EOF) through its row of the record table.
    bool PlayRecord(std::uint32_t type, MetafileRecordReader& r);
    // The record table's rows, by what the records do.
    static RecordTable::Rows MappingRecords();
    static RecordTable::Rows StateRecords();
    static RecordTable::Rows ClipAndPathRecords();
    static RecordTable::Rows ObjectRecords();
    static RecordTable::Rows DrawingRecords();

    bool ScaleExtent(std::uint32_t type, MetafileRecordReader& r);
    bool SetWorldTransform(MetafileRecordReader& r);
    bool ModifyWorldTransform(MetafileRecordReader& r);
    bool ClipRect(std::uint32_t type, MetafileRecordReader& r);
    bool CreateBrushIndirect(MetafileRecordReader& r);
    bool SetPixelV(MetafileRecordReader& r);
    bool AngleArc(MetafileRecordReader& r);
    bool BoxRecord(std::uint32_t type, MetafileRecordReader& r);
    bool RoundRect(MetafileRecordReader& r);
    bool ArcRecord(std::uint32_t type, MetafileRecordReader& r);
    bool Polygonal(std::uint32_t type, MetafileRecordReader& r, bool shortPoints);
    bool PolyPolygonal(std::uint32_t type, MetafileRecordReader& r, bool shortPoints);
    bool CreatePen(MetafileRecordReader& r);
    bool ExtCreatePen(MetafileRecordReader& r);
    bool CreatePatternBrush(MetafileRecordReader& r);
    bool CreateFont(MetafileRecordReader& r);
    bool SelectObject(std::uint32_t index);
    bool ExtTextOut(MetafileRecordReader& r, bool wide);
    bool SmallTextOut(MetafileRecordReader& r);
    bool Blit(std::uint32_t type, MetafileRecordReader& r);
    bool StretchDIBits(MetafileRecordReader& r);
    bool SetDIBitsToDevice(MetafileRecordReader& r);
    bool GradientFill(MetafileRecordReader& r);
    bool RegionRecord(std::uint32_t type, MetafileRecordReader& r);

    QByteArrayView m_Bytes;
    MetafileCanvas& m_Canvas;
};
