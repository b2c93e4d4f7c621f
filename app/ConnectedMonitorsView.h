#pragma once

#include <QWidget>
#include <vector>

class QCheckBox;
class QListWidget;
class QPushButton;

namespace mantleshade {

class ConnectedMonitors;
class CoverEditor;
class MediaRow;

// The monitor list of the Media tab: the refresh button, the identify toggle, and one media row
// per screen for the selected cover. Shown: the selected screen is outlined; hidden: the outline
// goes away.
class ConnectedMonitorsView : public QWidget {
    Q_OBJECT

  public:
    ConnectedMonitorsView(ConnectedMonitors& monitors, CoverEditor& editor,
                          QWidget* parent = nullptr);

    // Rebuilds the rows from the stored cover list.
    void refresh();

    QPushButton* refreshButton() const { return refreshButton_; }
    QCheckBox* identifyToggle() const { return identifyToggle_; }
    QListWidget* list() const { return list_; }
    const std::vector<MediaRow*>& rows() const { return rows_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void rebuildRows();
    void syncSelection();

    ConnectedMonitors& monitors_;
    CoverEditor& editor_;
    QPushButton* refreshButton_ = nullptr;
    QCheckBox* identifyToggle_ = nullptr;
    QListWidget* list_ = nullptr;
    std::vector<MediaRow*> rows_;
};

}  // namespace mantleshade
