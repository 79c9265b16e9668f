#include "app/ReferencePane.h"

#include "commands/ExportCommands.h"
#include "document/CQuilletDoc.h"
#include "imaging/BitmapExport.h"
#include "imaging/DIBSection.h"
#include "platform/DisplayText.h"
#include "platform/FileFilter.h"
#include "view/widgets/CQuilletView.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QEventLoop>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

const QColor kLinesOnMapColour(220, 0, 150);
const QColor kGraticuleColour(0, 90, 200);
/// How near, in screen pixels, a click snaps to a vertex.
constexpr double kSnapReach = 8.0;
/// The longer side of the scan's copy over the reference.
constexpr int kMapOnReferenceSide = 1024;

QTransform ImageToGround(const std::array<double, 6>& gt)
{
    return QTransform(gt[1], gt[4], gt[2], gt[5], gt[0], gt[3]);
}

} // namespace

/// The pane's drawing surface: the references in the first one's system, zoomed with the wheel
/// and panned by dragging; in picking mode a click is a pick.
class ReferenceCanvas : public QWidget {
public:
    explicit ReferenceCanvas(ReferencePane& pane) : QWidget(&pane), m_Pane(pane)
    {
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
        setMinimumSize(240, 200);
    }

    std::function<void(const QPointF& ground)> m_OnHover;
    std::function<void(const QPointF& canvasPoint)> m_OnClick;
    std::function<void()> m_OnEscape;
    QImage m_MapImage;                 ///< the scan over the reference
    std::array<double, 6> m_MapGeoTransform{};
    double m_dOpacity = 0.5;

    /// Ground to canvas: y up on the ground, down on the screen.
    QTransform GroundToCanvas() const
    {
        return QTransform(m_dScale, 0, 0, -m_dScale, width() / 2.0 - m_Centre.x() * m_dScale,
                          height() / 2.0 + m_Centre.y() * m_dScale);
    }

    /// Shows the whole extent (x min, y min, x max, y max) of the pane's first reference.
    void Fit(const std::array<double, 4>& extent)
    {
        m_FitExtent = extent;
        const double w = std::max(extent[2] - extent[0], 1e-9), h = std::max(extent[3] - extent[1], 1e-9);
        m_Centre = QPointF((extent[0] + extent[2]) / 2, (extent[1] + extent[3]) / 2);
        m_dScale = std::min(std::max(width(), 50) / w, std::max(height(), 50) / h) * 0.95;
        update();
    }

protected:
    void resizeEvent(QResizeEvent*) override
    {
        // Until the user zooms or pans, the whole reference stays in view as the pane is sized.
        if (m_FitExtent)
            Fit(*m_FitExtent);
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(236, 236, 236));
        const std::vector<PaneReference>& references = m_Pane.References();
        if (references.empty()) {
            painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
                             QStringLiteral("View > Reference Map... opens a georeferenced raster or a vector file"));
            return;
        }
        const QTransform toCanvas = GroundToCanvas();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        for (const PaneReference& reference : references)
            if (reference.m_Data.m_bRaster) {
                painter.setTransform(ImageToGround(reference.m_Data.m_GeoTransform) * toCanvas);
                painter.drawImage(0, 0, reference.m_Data.m_Image);
            }
        if (!m_MapImage.isNull()) {
            painter.setOpacity(m_dOpacity);
            painter.setTransform(ImageToGround(m_MapGeoTransform) * toCanvas);
            painter.drawImage(0, 0, m_MapImage);
            painter.setOpacity(1.0);
        }
        painter.setTransform(toCanvas);
        static const QColor colours[] = {QColor(0, 0, 230), QColor(200, 0, 0), QColor(0, 140, 0), QColor(150, 0, 170)};
        int layer = 0;
        for (const PaneReference& reference : references)
            if (!reference.m_Data.m_bRaster)
                PaintOverlay(painter, reference.m_InPane, colours[layer++ % 4]);
    }

    void wheelEvent(QWheelEvent* event) override
    {
        const QPointF at = event->position();
        const QPointF ground = GroundToCanvas().inverted().map(at);
        m_FitExtent.reset();
        m_dScale *= std::pow(1.25, event->angleDelta().y() / 120.0);
        // Zoom about the pointer: the ground under it stays under it.
        m_Centre = ground - QPointF((at.x() - width() / 2.0) / m_dScale, -(at.y() - height() / 2.0) / m_dScale);
        update();
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        m_PressedAt = event->position();
        m_Dragged = false;
    }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (event->buttons() & (Qt::LeftButton | Qt::MiddleButton)) {
            const QPointF step = event->position() - m_PressedAt;
            if (m_Dragged || std::hypot(step.x(), step.y()) > 3) {
                m_Dragged = true;
                m_FitExtent.reset();
                m_Centre -= QPointF(step.x() / m_dScale, -step.y() / m_dScale);
                m_PressedAt = event->position();
                update();
            }
        }
        if (m_OnHover)
            m_OnHover(GroundToCanvas().inverted().map(event->position()));
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && !m_Dragged && m_OnClick)
            m_OnClick(event->position());
        m_Dragged = false;
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Escape && m_OnEscape)
            m_OnEscape();
        else
            QWidget::keyPressEvent(event);
    }

private:
    ReferencePane& m_Pane;
    std::optional<std::array<double, 4>> m_FitExtent; ///< what to keep in view while the user has not moved
    QPointF m_Centre;
    double m_dScale = 1.0;
    QPointF m_PressedAt;
    bool m_Dragged = false;
};

ReferencePane::ReferencePane(CQuilletDoc& document, CQuilletView& view, QWidget* parent)
    : QDockWidget(QStringLiteral("Reference Map"), parent), m_Doc(document), m_View(view)
{
    setObjectName(QStringLiteral("referencePane"));
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* bar = new QHBoxLayout;
    auto* add = m_pAdd = new QPushButton(QStringLiteral("Add..."), body);
    add->setToolTip(QStringLiteral("Add a georeferenced raster or a vector file"));
    // References belong to the work on a map: loading another map starts without them.
    add->setEnabled(m_Doc.IsMapLoaded());
    auto* remove = new QPushButton(QStringLiteral("Remove"), body);
    remove->setToolTip(QStringLiteral("Remove the reference chosen in the list"));
    m_pSnap = new QCheckBox(QStringLiteral("Snap to vertices"), body);
    m_pSnap->setChecked(true);
    bar->addWidget(add);
    bar->addWidget(remove);
    bar->addWidget(m_pSnap);
    bar->addStretch();
    layout->addLayout(bar);
    // The references in drawing order, the raster first; a missing file is listed as such.
    m_pList = new QListWidget(body);
    m_pList->setMaximumHeight(m_pList->fontMetrics().height() * 4);
    layout->addWidget(m_pList);
    m_pCanvas = new ReferenceCanvas(*this);
    layout->addWidget(m_pCanvas, 1);
    auto* opacityRow = new QHBoxLayout;
    opacityRow->addWidget(new QLabel(QStringLiteral("Map opacity"), body));
    m_pOpacity = new QSlider(Qt::Horizontal, body);
    m_pOpacity->setRange(0, 100);
    m_pOpacity->setValue(50);
    m_pOpacity->setEnabled(false);
    opacityRow->addWidget(m_pOpacity, 1);
    layout->addLayout(opacityRow);
    m_pReadOut = new QLabel(body);
    m_pReadOut->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_pReadOut);
    setWidget(body);

    connect(add, &QPushButton::clicked, this, &ReferencePane::OnAddReference);
    connect(remove, &QPushButton::clicked, this, [this] {
        const int row = m_pList->currentRow();
        QStringList paths = m_Doc.References();
        if (row >= 0 && row < paths.size()) {
            paths.removeAt(row);
            m_Doc.SetReferences(paths);
        }
    });
    connect(m_pOpacity, &QSlider::valueChanged, this, [this](int value) {
        m_pCanvas->m_dOpacity = value / 100.0;
        m_pCanvas->update();
    });
    m_pCanvas->m_OnHover = [this](const QPointF& ground) {
        if (m_References.empty() || !m_References.front().m_Conversion)
            return;
        const std::optional<GeoPosition> at = m_References.front().m_Conversion->ToWgs84(ground);
        m_pReadOut->setText(at ? QStringLiteral("Lat %1\u00B0  Lon %2\u00B0")
                                     .arg(at->m_dLatitude, 0, 'f', 6)
                                     .arg(at->m_dLongitude, 0, 'f', 6)
                               : QString());
    };
    m_Doc.AddView(this);
    SyncReferences();
}

ReferencePane::~ReferencePane()
{
    m_Doc.RemoveView(this);
}

QWidget* ReferencePane::Canvas() const
{
    return m_pCanvas;
}

QPointF ReferencePane::GroundAt(const QPointF& canvasPoint) const
{
    return m_pCanvas->GroundToCanvas().inverted().map(canvasPoint);
}

void ReferencePane::OnUpdate(CView*, long hint)
{
    m_pAdd->setEnabled(m_Doc.IsMapLoaded());
    if (hint == 0 || (hint & DocChange::kReferences))
        SyncReferences();
    if (hint == 0 || (hint & (DocChange::kReferences | DocChange::kPoints | DocChange::kGeoCoding | DocChange::kMap |
                              DocChange::kImage)))
        UpdateOverlays();
}

void ReferencePane::OnAddReference()
{
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Add Reference Map"), QString(),
        QStringLiteral("Reference maps (*.tif *.tiff *.png *.jpg *.jpeg *.jp2 *.geojson *.json *.gpkg *.shp *.kml);;"
                       "All files (*)"));
    if (path.isEmpty())
        return;
    if (const std::optional<QString> refusal = AddReference(path))
        QMessageBox::warning(this, QStringLiteral("Reference Map"), *refusal);
}

std::optional<QString> ReferencePane::AddReference(const QString& path)
{
    const Parsed<ReferenceData> reference = ReadReference(path, 1);
    const QString name = DisplayText(path);
    if (!reference)
        return QStringLiteral("%1 cannot be shown as a reference map: %2").arg(name, reference.Why());
    if (const std::shared_ptr<const GeoCoding> coding = m_Doc.MapGeoCoding();
        coding && !ReferenceOverlaps(*reference, *coding, m_Doc.ImageWidth(), m_Doc.ImageHeight()))
        return QStringLiteral("%1 does not overlap the map.").arg(name);
    QStringList paths = m_Doc.References();
    const QString absolute = QFileInfo(path).absoluteFilePath();
    paths.removeAll(absolute);
    // One raster lies under the vector layers: a new one takes the old one's place.
    if (reference->m_bRaster) {
        paths.erase(std::remove_if(paths.begin(), paths.end(),
                                   [this](const QString& p) {
                                       for (const PaneReference& shown : m_References)
                                           if (shown.m_Data.m_strPath == p)
                                               return shown.m_Data.m_bRaster;
                                       return false;
                                   }),
                    paths.end());
        paths.prepend(absolute);
    } else {
        paths.append(absolute);
    }
    m_Doc.SetReferences(paths);
    show();
    raise();
    return std::nullopt;
}

std::optional<PaneReference> ReferencePane::ReadPaneReference(const QString& path, QStringList& missing)
{
    Parsed<ReferenceData> data = ReadReference(path);
    QString refusal = data.Why();
    std::optional<FitCrsConversion> conversion;
    if (data)
        conversion = FitCrsConversion::Create(data->m_Crs, &refusal);
    if (!conversion) {
        missing.append(QStringLiteral("%1: %2").arg(DisplayText(path), refusal));
        return std::nullopt;
    }
    return PaneReference{std::move(*data), std::move(conversion), {}};
}

void ReferencePane::SyncReferences()
{
    if (m_LoadedPaths == m_Doc.References())
        return;
    const bool wasEmpty = m_References.empty();
    // References still listed are kept as read; only new ones are read from their files.
    std::vector<PaneReference> previous = std::move(m_References);
    m_References.clear();
    QStringList missing;
    for (const QString& path : m_Doc.References()) {
        const auto kept = std::find_if(previous.begin(), previous.end(),
                                       [&](const PaneReference& r) { return r.m_Data.m_strPath == path; });
        if (kept != previous.end()) {
            m_References.push_back(std::move(*kept));
            previous.erase(kept);
        } else if (std::optional<PaneReference> read = ReadPaneReference(path, missing)) {
            m_References.push_back(std::move(*read));
        } else {
            continue;
        }
        // Vector layers are drawn in the first reference's system.
        PaneReference& reference = m_References.back();
        reference.m_InPane = {};
        for (const OverlayShape& shape : reference.m_Data.m_Shapes) {
            if (shape.m_bPoint)
                reference.m_InPane.m_Points.insert(reference.m_InPane.m_Points.end(), shape.m_Vertices.begin(),
                                                   shape.m_Vertices.end());
            else
                reference.m_InPane.m_Lines.emplace_back(shape.m_Vertices.begin(), shape.m_Vertices.end());
        }
        const PaneReference& first = m_References.front();
        if (&reference != &first && !(reference.m_Data.m_Crs == first.m_Data.m_Crs))
            reference.m_InPane = ConvertedDrawing(reference.m_InPane, *reference.m_Conversion, *first.m_Conversion);
    }
    m_LoadedPaths = m_Doc.References();
    m_pReadOut->setText(missing.isEmpty() ? QString() : QStringLiteral("Not shown: ") + missing.join(QStringLiteral("; ")));
    m_pList->clear();
    for (const QString& path : m_Doc.References()) {
        const bool shown = std::any_of(m_References.begin(), m_References.end(),
                                       [&](const PaneReference& r) { return r.m_Data.m_strPath == path; });
        auto* item = new QListWidgetItem(QFileInfo(path).fileName() + (shown ? QString() : QStringLiteral(" (not shown)")),
                                         m_pList);
        item->setToolTip(DisplayText(path));
    }
    if (!m_References.empty() && (wasEmpty || m_References.size() == 1))
        m_pCanvas->Fit(m_References.front().m_Data.m_Extent);
    // A workspace opened with its references shows them.
    if (wasEmpty && !m_Doc.References().isEmpty())
        show();
    m_pCanvas->update();
}

void ReferencePane::UpdateOverlays()
{
    const std::shared_ptr<const GeoCoding> coding = m_Doc.IsMapLoaded() ? m_Doc.MapGeoCoding() : nullptr;
    std::vector<MapOverlayLayer> layers;
    if (coding && m_bGraticule)
        layers.push_back(GraticuleLayer(*coding, m_Doc.ImageWidth(), m_Doc.ImageHeight(), 0.0, kGraticuleColour));
    if (coding && m_bLinesOnMap) {
        const QRectF picture(0, 0, m_Doc.ImageWidth(), m_Doc.ImageHeight());
        MapOverlayLayer lines;
        lines.m_Colour = kLinesOnMapColour;
        for (const PaneReference& reference : m_References) {
            if (reference.m_Data.m_bRaster)
                continue;
            const OverlayDrawing drawn = DrawOverlay(reference.m_Data.m_Shapes, &*reference.m_Conversion, *coding, picture);
            lines.m_Drawing.m_Lines.insert(lines.m_Drawing.m_Lines.end(), drawn.m_Lines.begin(), drawn.m_Lines.end());
            lines.m_Drawing.m_Points.insert(lines.m_Drawing.m_Points.end(), drawn.m_Points.begin(), drawn.m_Points.end());
        }
        layers.push_back(std::move(lines));
    }
    m_View.SetOverlays(std::move(layers));
    m_pOpacity->setEnabled(coding && m_bMapOnReference);
    m_pCanvas->m_MapImage = QImage();
    if (coding && m_bMapOnReference && !m_References.empty())
        RenderMapOnReference(*coding);
    m_pCanvas->update();
}

void ReferencePane::RenderMapOnReference(const GeoCoding& coding)
{
    DIBSection drawn;
    const DIBSection* pixels = MapSection(m_Doc, drawn);
    if (!pixels)
        return;
    // Over the reference and the whole map, wherever they reach beyond each other.
    std::array<double, 4> extent = m_References.front().m_Data.m_Extent;
    const FitCrsConversion& pane = *m_References.front().m_Conversion;
    if (const std::optional<std::array<double, 4>> map = PictureExtentIn(pane, coding, m_Doc.ImageWidth(), m_Doc.ImageHeight()))
        extent = {std::min(extent[0], (*map)[0]), std::min(extent[1], (*map)[1]), std::max(extent[2], (*map)[2]),
                  std::max(extent[3], (*map)[3])};
    MapOnGrid resampled = ResampleMapOnGrid(RgbImageOf(*pixels), m_Doc.ImageWidth(), m_Doc.ImageHeight(), coding, pane,
                                            extent, kMapOnReferenceSide);
    m_pCanvas->m_MapImage = std::move(resampled.m_Image);
    m_pCanvas->m_MapGeoTransform = resampled.m_GeoTransform;
}

bool ReferencePane::CanPick() const
{
    return !m_References.empty() && m_References.front().m_Conversion.has_value();
}

std::optional<GeoPosition> ReferencePane::PositionAt(const QPointF& canvasPoint) const
{
    QPointF ground = GroundAt(canvasPoint);
    if (m_pSnap->isChecked()) {
        const QTransform toCanvas = m_pCanvas->GroundToCanvas();
        double nearest = kSnapReach;
        const auto consider = [&](const QPointF& vertex) {
            const QPointF at = toCanvas.map(vertex);
            const double distance = std::hypot(at.x() - canvasPoint.x(), at.y() - canvasPoint.y());
            if (distance <= nearest) {
                nearest = distance;
                ground = vertex;
            }
        };
        for (const PaneReference& reference : m_References) {
            for (const QPolygonF& line : reference.m_InPane.m_Lines)
                for (const QPointF& vertex : line)
                    consider(vertex);
            for (const QPointF& point : reference.m_InPane.m_Points)
                consider(point);
        }
    }
    return m_References.front().m_Conversion->ToWgs84(ground);
}

std::optional<GeoPosition> ReferencePane::PickPosition()
{
    if (!CanPick())
        return std::nullopt;
    show();
    raise();
    // Until the pick, the rest of the window waits: a command started meanwhile would find the
    // coordinate dialog of the point half done.
    auto* window = qobject_cast<QMainWindow*>(parentWidget());
    std::vector<QWidget*> paused;
    if (window) {
        paused.push_back(window->menuBar());
        paused.push_back(window->centralWidget());
        for (QWidget* child : window->findChildren<QDockWidget*>())
            if (child != this)
                paused.push_back(child);
        for (QWidget* child : window->findChildren<QToolBar*>())
            paused.push_back(child);
    }
    for (QWidget* widget : paused)
        widget->setEnabled(false);
    const QString readOut = m_pReadOut->text();
    m_pReadOut->setText(QStringLiteral("Click the point on the reference map (Esc gives up)"));
    m_pCanvas->setCursor(Qt::CrossCursor);
    m_pCanvas->setFocus();

    std::optional<GeoPosition> picked;
    QEventLoop loop;
    m_pCanvas->m_OnClick = [&](const QPointF& at) {
        picked = PositionAt(at);
        loop.quit();
    };
    m_pCanvas->m_OnEscape = [&] { loop.quit(); };
    const QMetaObject::Connection hidden = connect(this, &QDockWidget::visibilityChanged, &loop, [&](bool visible) {
        if (!visible)
            loop.quit();
    });
    loop.exec();
    disconnect(hidden);
    m_pCanvas->m_OnClick = nullptr;
    m_pCanvas->m_OnEscape = nullptr;
    m_pCanvas->unsetCursor();
    m_pReadOut->setText(readOut);
    for (QWidget* widget : paused)
        widget->setEnabled(true);
    return picked;
}

void ReferencePane::SetShowGraticule(bool show)
{
    m_bGraticule = show;
    UpdateOverlays();
}

void ReferencePane::SetShowLinesOnMap(bool show)
{
    m_bLinesOnMap = show;
    UpdateOverlays();
}

void ReferencePane::SetShowMapOnReference(bool show)
{
    m_bMapOnReference = show;
    if (show) {
        this->show();
        raise();
    }
    UpdateOverlays();
}
