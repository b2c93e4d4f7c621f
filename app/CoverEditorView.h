#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;

namespace mantleshade {

class ConnectedMonitors;
class ConnectedMonitorsView;
class CoverEditor;
class MediaRow;

// The "Media" tab: the cover picker, its name, the one-media-for-all-screens toggle with the OSC
// ID, and the shared media row or the monitor list. Always shows the stored state of the
// selected cover.
class CoverEditorView : public QWidget {
    Q_OBJECT

  public:
    // The characters the closed picker is sized for, whatever the names.
    static constexpr int kPickerContentsLength = 24;

    CoverEditorView(CoverEditor& editor, ConnectedMonitors& monitors, QWidget* parent = nullptr);

    // Shows the stored list again.
    void refresh();

    QComboBox* picker() const { return picker_; }
    QLineEdit* nameField() const { return nameField_; }
    QCheckBox* sameMediaToggle() const { return sameMediaToggle_; }
    QLabel* oscIDLabel() const { return oscIDLabel_; }
    MediaRow* sharedRow() const { return sharedRow_; }
    ConnectedMonitorsView* monitorsView() const { return monitorsView_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Sets the picker's texts, shortening a name (never the ID or the suffix) that would not fit.
    void updatePickerTexts();

    CoverEditor& editor_;
    QGridLayout* grid_ = nullptr;
    QComboBox* picker_ = nullptr;
    QLineEdit* nameField_ = nullptr;
    QCheckBox* sameMediaToggle_ = nullptr;
    QLabel* oscIDLabel_ = nullptr;
    QWidget* sharedSection_ = nullptr;
    MediaRow* sharedRow_ = nullptr;
    ConnectedMonitorsView* monitorsView_ = nullptr;
};

}  // namespace mantleshade
