#pragma once

#include "platform/DialogData.h"

#include <QDialog>

class QLabel;
class QTreeWidget;

/// Lists the projections found for a map, best first, each as its PROJ string with the ground
/// errors of the map fitted in it, for the user to pick the one the map is fitted in.
class ProjectionDialog : public QDialog {
    Q_OBJECT
public:
    explicit ProjectionDialog(QWidget* parent = nullptr);

    /// Shows the rows with the selection picked; on OK the selection is the row picked.
    int DoModal(ProjectionPick& pick);

    QTreeWidget* List() const { return m_pList; }

private:
    QTreeWidget* m_pList;
    QLabel* m_pNote;
};
