#include "app/ConnectedMonitorsView.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ConnectedMonitors.h"
#include "app/CoverEditor.h"
#include "app/MediaRow.h"
#include "app/PreferencesTexts.h"

namespace mantleshade {

ConnectedMonitorsView::ConnectedMonitorsView(ConnectedMonitors& monitors, CoverEditor& editor,
                                             QWidget* parent)
    : QWidget(parent), monitors_(monitors), editor_(editor) {
    setObjectName("ConnectedMonitorsView");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* tools = new QHBoxLayout();
    refreshButton_ = new QPushButton(PreferencesTexts::text("Refresh Connected Monitors"), this);
    refreshButton_->setObjectName("refreshMonitorsButton");
    identifyToggle_ =
        new QCheckBox(PreferencesTexts::text("Identify Monitor with Selection"), this);
    identifyToggle_->setObjectName("identifyToggle");
    identifyToggle_->setChecked(monitors_.identifyMonitors());
    tools->addWidget(refreshButton_);
    tools->addStretch();
    tools->addWidget(identifyToggle_);
    layout->addLayout(tools);

    list_ = new QListWidget(this);
    list_->setObjectName("monitorList");
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(list_, 1);

    connect(refreshButton_, &QPushButton::clicked, this, [this] { monitors_.refreshScreens(); });
    connect(identifyToggle_, &QCheckBox::toggled, this,
            [this](bool value) { monitors_.setIdentifyMonitors(value); });
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        const auto& screens = monitors_.screens();
        if (row < 0 || row >= static_cast<int>(screens.size())) return;
        monitors_.setSelectedScreenID(screens[static_cast<std::size_t>(row)].displayID);
    });
    connect(&monitors_, &ConnectedMonitors::screensChanged, this, [this] { rebuildRows(); });
    connect(&monitors_, &ConnectedMonitors::selectedScreenIDChanged, this,
            [this] { syncSelection(); });
    rebuildRows();
}

void ConnectedMonitorsView::rebuildRows() {
    const QSignalBlocker block(list_);
    list_->clear();
    rows_.clear();
    for (std::size_t i = 0; i < monitors_.screens().size(); ++i) {
        auto* item = new QListWidgetItem(list_);
        auto* row = new MediaRow(MediaRow::Config{}, list_);
        rows_.push_back(row);
        list_->setItemWidget(item, row);
    }
    refresh();
    syncSelection();
}

void ConnectedMonitorsView::refresh() {
    {
        const QSignalBlocker block(identifyToggle_);
        identifyToggle_->setChecked(monitors_.identifyMonitors());
    }
    const OverlayData cover = editor_.selectedCover();
    const auto& screens = monitors_.screens();
    for (std::size_t i = 0; i < rows_.size() && i < screens.size(); ++i) {
        const ConnectedScreen& screen = screens[i];
        const std::string key = ConnectedMonitors::displayIDKey(screen.displayID);
        MediaRow::Config config;
        config.label = screen.localizedName;
        config.icon = monitors_.screenIcon(screen);
        config.showBackground = false;
        config.mediaPath = CoverEditor::screenMediaPath(cover, key);
        config.onBrowse = [this, key] { editor_.assignScreenMedia(key); };
        config.onReveal = [this, key] { editor_.revealInFinder(key); };
        config.onRemove = [this, key] { editor_.removeScreenMedia(key); };
        rows_[i]->setConfig(std::move(config));
        if (QListWidgetItem* item = list_->item(static_cast<int>(i)))
            item->setSizeHint(rows_[i]->sizeHint());
    }
}

void ConnectedMonitorsView::syncSelection() {
    const QSignalBlocker block(list_);
    const auto& screens = monitors_.screens();
    int selected = -1;
    for (std::size_t i = 0; i < screens.size(); ++i) {
        if (screens[i].displayID == monitors_.selectedScreenID()) {
            selected = static_cast<int>(i);
            break;
        }
    }
    // An absent selection matches a screen without an ID, if there is one.
    if (selected < 0) {
        list_->clearSelection();
        list_->setCurrentRow(-1);
    } else {
        list_->setCurrentRow(selected);
    }
}

void ConnectedMonitorsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    monitors_.highlightSelectedScreen();
}

void ConnectedMonitorsView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    monitors_.removeHighlightWindows();
}

}  // namespace mantleshade
