#include "app/ControlPointPanel.h"

#include "document/CQuilletDoc.h"
#include "platform/DisplayText.h"
#include "view/core/ReadOut.h"
#include "view/widgets/CQuilletView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString kHiddenKey = QStringLiteral("ControlPoints/hidden");

QString Fixed2(double value)
{
    return QString::number(value, 'f', 2);
}

/// Where the map's transformation is fitted, as the summary names it: the UTM zone once the points
/// have chosen it, a long WKT cut short.
QString FitCrsText(const CQuilletDoc& doc)
{
    const FitCrs& crs = doc.Choice().m_FitCrs;
    switch (crs.GetKind()) {
    case FitCrs::Kind::Geographic:
        return QStringLiteral("latitude and longitude");
    case FitCrs::Kind::Utm:
        return doc.ChosenModel() ? QStringLiteral("the UTM zone of the points, %1").arg(doc.ChosenModel()->Crs().Text())
                                 : QStringLiteral("the UTM zone of the points");
    case FitCrs::Kind::Auto:
        if (doc.ChosenModel())
            return QStringLiteral("the projection found, %1").arg(DisplayText(doc.ChosenModel()->Crs().Text(), 80));
        break;
    case FitCrs::Kind::Defined:
        break;
    }
    return DisplayText(crs.Text(), 80);
}

} // namespace

ControlPointTableModel::ControlPointTableModel(const CQuilletDoc& doc, QObject* parent)
    : QAbstractTableModel(parent), m_Doc(doc)
{
}

void ControlPointTableModel::Refresh()
{
    beginResetModel();
    m_Analysis = AnalyseResiduals(m_Doc.Choice(), m_Doc.ControlPoints(), m_Doc.ImageWidth(), m_Doc.ImageHeight());
    m_nWorst = -1;
    double worst = -1.0;
    for (std::size_t i = 0; i < m_Analysis.m_Points.size(); ++i) {
        const PointResidual& r = m_Analysis.m_Points[i];
        const double measure = r.m_dLeaveOneOut.value_or(r.m_dArcSeconds);
        if (measure > worst) {
            worst = measure;
            m_nWorst = static_cast<int>(i);
        }
    }
    endResetModel();
}

int ControlPointTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_Doc.ControlPoints().size());
}

int ControlPointTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ControlPointTableModel::data(const QModelIndex& index, int role) const
{
    const std::vector<CDataGeo>& points = m_Doc.ControlPoints();
    if (!index.isValid() || index.row() >= static_cast<int>(points.size()))
        return {};
    const auto row = static_cast<std::size_t>(index.row());
    const CDataGeo& point = points[row];
    const PointResidual* residual = row < m_Analysis.m_Points.size() ? &m_Analysis.m_Points[row] : nullptr;
    const double latitude = point.LatitudeDegrees();
    const double longitude = point.LongitudeDegrees();
    const CDataGeo place = m_Doc.InPictureFractions(point);
    const double column = place.PixelColumn(m_Doc.ImageWidth());
    const double pixelRow = place.PixelRow(m_Doc.ImageHeight());

    // The value sorted by: numbers as numbers, a missing one below every other.
    std::optional<double> value;
    switch (index.column()) {
    case Number:
        value = index.row() + 1;
        break;
    case Latitude:
        value = latitude;
        break;
    case Longitude:
        value = longitude;
        break;
    case PixelColumn:
        value = column;
        break;
    case PixelRow:
        value = pixelRow;
        break;
    case Residual:
        if (residual)
            value = residual->m_dArcSeconds;
        break;
    case Ground:
        if (residual)
            value = residual->m_dGroundMetres;
        break;
    case LeftOut:
        if (residual)
            value = residual->m_dLeaveOneOut;
        break;
    case Over:
        if (residual)
            value = residual->m_bOverThreshold ? 1 : 0;
        break;
    default:
        break;
    }
    switch (role) {
    case Qt::UserRole:
        return value ? QVariant(*value) : QVariant(-1.0);
    case Qt::DisplayRole:
        if (!value)
            return QString();
        switch (index.column()) {
        case Number:
            return index.row() + 1;
        case Latitude:
            return CoordinateText(latitude, true, m_Doc.InputOption());
        case Longitude:
            return CoordinateText(longitude, false, m_Doc.InputOption());
        case PixelColumn:
        case PixelRow:
            return QString::number(*value, 'f', 1);
        case Over:
            return *value > 0 ? QStringLiteral("over") : QString();
        default:
            return Fixed2(*value);
        }
    case Qt::TextAlignmentRole:
        return index.column() == Over ? int(Qt::AlignCenter) : int(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::ForegroundRole:
        if (residual && residual->m_bOverThreshold)
            return QColor(190, 0, 0);
        return {};
    case Qt::BackgroundRole:
        // The worst point stands out.
        if (index.row() == m_nWorst)
            return QColor(255, 225, 170);
        return {};
    case Qt::FontRole:
        if (index.row() == m_nWorst) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    default:
        return {};
    }
}

QVariant ControlPointTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    // The sorting proxy asks for section -1 while the table is being reset.
    if (section < 0 || section >= ColumnCount)
        return {};
    static const char* const kTitles[ColumnCount] = {
        "#", "Latitude", "Longitude", "Column (px)", "Row (px)", "Residual (\")", "Ground (m)", "Left out (\")", "Threshold",
    };
    return QString::fromUtf8(kTitles[section]);
}

ControlPointPanel::ControlPointPanel(CQuilletDoc& doc, CQuilletView& view, QWidget* parent)
    : QDockWidget(QStringLiteral("Control Points"), parent), m_Doc(doc), m_View(view),
      m_pModel(new ControlPointTableModel(doc, this)), m_pSorted(new QSortFilterProxyModel(this)),
      m_pTable(new QTableView), m_pSummary(new QLabel)
{
    setObjectName(QStringLiteral("controlPoints"));
    m_pSorted->setSourceModel(m_pModel);
    m_pSorted->setSortRole(Qt::UserRole);
    m_pTable->setModel(m_pSorted);
    m_pTable->setSortingEnabled(true);
    m_pTable->sortByColumn(ControlPointTableModel::Number, Qt::AscendingOrder);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->verticalHeader()->hide();
    m_pTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_pTable->installEventFilter(this);
    m_pSummary->setWordWrap(true);

    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_pTable);
    layout->addWidget(m_pSummary);
    setWidget(body);

    connect(m_pTable->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        // A point picked on the map is under the pointer: the window must not move under it.
        if (m_bPickedOnMap) {
            m_View.State().HighlightPoint(SelectedPoint());
            m_View.Invalidate();
        } else {
            m_View.State().ShowPoint(m_Doc, m_View, SelectedPoint());
        }
    });
    connect(m_pTable, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        m_View.Actions().EditPoint(m_pSorted->mapToSource(index).row());
        m_View.NotifyStateChanged();
    });
    // The user's choice to hide the table is kept for later runs.
    connect(toggleViewAction(), &QAction::triggered, this,
            [](bool visible) { QSettings().setValue(kHiddenKey, !visible); });
    m_Doc.AddView(this);
    Refresh();
}

ControlPointPanel::~ControlPointPanel()
{
    m_Doc.RemoveView(this);
}

int ControlPointPanel::SelectedPoint() const
{
    const QModelIndexList rows = m_pTable->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : m_pSorted->mapToSource(rows.constFirst()).row();
}

void ControlPointPanel::SelectPoint(int index)
{
    const QModelIndex row = m_pSorted->mapFromSource(m_pModel->index(index, 0));
    if (!row.isValid())
        return;
    m_bPickedOnMap = true;
    m_pTable->selectRow(row.row());
    m_bPickedOnMap = false;
    m_pTable->scrollTo(row);
}

void ControlPointPanel::OnUpdate(CView*, long hint)
{
    if (hint & (DocChange::kMap | DocChange::kPoints | DocChange::kGeoCoding | DocChange::kOptions))
        Refresh();
}

void ControlPointPanel::Refresh()
{
    const int chosen = SelectedPoint();
    m_pModel->Refresh();
    if (chosen >= 0 && chosen < m_pModel->rowCount())
        m_pTable->selectRow(m_pSorted->mapFromSource(m_pModel->index(chosen, 0)).row());

    const ResidualAnalysis& analysis = m_pModel->Analysis();
    const GeoCodingChoice& choice = m_Doc.Choice();
    const int count = static_cast<int>(m_Doc.ControlPoints().size());
    const int needed = MinimumPoints(choice.m_eTransform);
    QStringList lines;
    if (!choice.IsDefault())
        lines << QStringLiteral("%1, fitted in %2.").arg(TransformKindName(choice.m_eTransform), FitCrsText(m_Doc));
    if (count < needed && m_Doc.HasGeoTiffFrame() && m_Doc.IsGeoCoded()) {
        lines << QStringLiteral("Geo-coded by the map's GeoTIFF georeference: no control points are needed.");
    } else if (count < needed) {
        lines << QStringLiteral("%1 of %2 points needed").arg(count).arg(needed);
    } else if (!analysis.m_Model) {
        lines << (analysis.m_strRefusal.isEmpty() ? QStringLiteral("%1 points: they do not fix a model (on one line?)").arg(count)
                                                  : analysis.m_strRefusal);
    } else {
        lines << QStringLiteral("%1 points. RMS ground residual %2 m. Largest residual %3\", threshold %4\".")
                     .arg(count)
                     .arg(Fixed2(analysis.m_dRmsMetres), Fixed2(analysis.m_dLargest), Fixed2(analysis.m_dThreshold));
        lines << (analysis.m_bAccepted ? QStringLiteral("The fit is accepted.") : QStringLiteral("The fit is rejected."));
        if (choice.m_eTransform == TransformKind::Tps)
            lines << QStringLiteral("The spline passes through every point, so the residuals at the points are zero by "
                                    "construction: the Left out column is the honest measure.");
    }
    m_pSummary->setText(lines.join(QLatin1Char('\n')));

    // Shown by default with the first map, unless the user has hidden it: the view is fitted
    // to the map then anyway, whereas a table appearing with the first point would move the
    // picture under the pointer of someone clicking points.
    if (m_Doc.IsMapLoaded() && !m_bShownOnce && !QSettings().value(kHiddenKey, false).toBool()) {
        m_bShownOnce = true;
        show();
        // Wide enough for every column at first, within two fifths of the window.
        if (auto* window = qobject_cast<QMainWindow*>(parentWidget())) {
            const int wanted = m_pTable->horizontalHeader()->length() + 2 * m_pTable->frameWidth() + 24;
            window->resizeDocks({this}, {std::min(wanted, window->width() * 2 / 5)}, Qt::Horizontal);
        }
    }
}

bool ControlPointPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_pTable && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        const int point = SelectedPoint();
        if (point >= 0) {
            m_View.Actions().DeletePoint(point);
            m_View.NotifyStateChanged();
        }
        return true;
    }
    return QDockWidget::eventFilter(watched, event);
}
