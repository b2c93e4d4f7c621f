#include "app/CoverEditorView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QVBoxLayout>
#include <algorithm>

#include "app/ConnectedMonitorsView.h"
#include "app/CoverEditor.h"
#include "app/MediaRow.h"
#include "app/PreferencesTexts.h"

namespace mantleshade {

CoverEditorView::CoverEditorView(CoverEditor& editor, ConnectedMonitors& monitors, QWidget* parent)
    : QWidget(parent), editor_(editor) {
    setObjectName("CoverEditorView");
    auto* layout = new QVBoxLayout(this);

    auto* grid = new QGridLayout();
    grid_ = grid;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(8);
    grid->addWidget(new QLabel(PreferencesTexts::text("Edit Cover:"), this), 0, 0,
                    Qt::AlignLeft | Qt::AlignBaseline);
    picker_ = new QComboBox(this);
    picker_->setObjectName("coverPicker");
    picker_->setAccessibleName(PreferencesTexts::text("Edit"));
    // The picker fills its cell and never asks for more room than a short label: long names are
    // elided to the cell, so they cannot widen (and thereby reflow) the Preferences window.
    picker_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    picker_->setMinimumContentsLength(kPickerContentsLength);
    for (int id = CoverEditor::kFirstID; id <= CoverEditor::kLastID; ++id)
        picker_->addItem(QString(), id);
    grid->addWidget(picker_, 0, 1, Qt::AlignBaseline);
    grid->addWidget(new QLabel(PreferencesTexts::text("Name"), this), 1, 0,
                    Qt::AlignRight | Qt::AlignBaseline);
    nameField_ = new QLineEdit(this);
    nameField_->setObjectName("nameField");
    nameField_->setPlaceholderText(PreferencesTexts::text("Name"));
    grid->addWidget(nameField_, 1, 1, Qt::AlignBaseline);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);

    auto* modeRow = new QHBoxLayout();
    modeRow->setContentsMargins(0, 4, 0, 0);
    sameMediaToggle_ =
        new QCheckBox(PreferencesTexts::text("Use same media for all screens"), this);
    sameMediaToggle_->setObjectName("sameMediaToggle");
    oscIDLabel_ = new QLabel(this);
    oscIDLabel_->setObjectName("oscIDLabel");
    modeRow->addWidget(sameMediaToggle_);
    modeRow->addStretch();
    modeRow->addWidget(oscIDLabel_);
    layout->addLayout(modeRow);

    sharedSection_ = new QWidget(this);
    auto* sharedLayout = new QVBoxLayout(sharedSection_);
    sharedLayout->setContentsMargins(0, 0, 0, 0);
    sharedRow_ = new MediaRow(MediaRow::Config{}, sharedSection_);
    sharedLayout->addWidget(sharedRow_);
    sharedLayout->addStretch();
    layout->addWidget(sharedSection_, 1);

    monitorsView_ = new ConnectedMonitorsView(monitors, editor_, this);
    layout->addWidget(monitorsView_, 1);

    connect(picker_, &QComboBox::currentIndexChanged, this, [this](int index) {
        editor_.setSelectionID(index + CoverEditor::kFirstID);
        refresh();
    });
    // One write per keystroke.
    connect(nameField_, &QLineEdit::textEdited, this,
            [this](const QString& text) { editor_.setName(text.toStdString()); });
    connect(sameMediaToggle_, &QCheckBox::toggled, this, [this](bool value) {
        editor_.setUseSameMediaForAllScreens(value);
        refresh();
    });
    refresh();
}

void CoverEditorView::refresh() {
    const OverlayData cover = editor_.selectedCover();
    updatePickerTexts();
    const QString name = QString::fromStdString(cover.name);
    // Rewriting the same text would move the cursor while the user types.
    if (nameField_->text() != name) {
        const QSignalBlocker block(nameField_);
        nameField_->setText(name);
    }
    {
        const QSignalBlocker block(sameMediaToggle_);
        sameMediaToggle_->setChecked(cover.useSameMediaForAllScreens);
    }
    oscIDLabel_->setText(QString::fromStdString(editor_.oscIDText()));

    MediaRow::Config shared;
    shared.label = "All Screens";
    shared.icon = CoverEditor::sharedMediaIcon(cover);
    shared.showBackground = true;
    shared.mediaPath = CoverEditor::sharedMediaPath(cover);
    shared.onBrowse = [this] { editor_.assignSharedMedia(); };
    shared.onReveal = [this] { editor_.revealInFinder(); };
    shared.onRemove = [this] { editor_.removeSharedMedia(); };
    sharedRow_->setConfig(std::move(shared));

    // Hiding the monitor list removes its outline; showing it outlines the selection.
    sharedSection_->setVisible(cover.useSameMediaForAllScreens);
    monitorsView_->setVisible(!cover.useSameMediaForAllScreens);
    monitorsView_->refresh();
}

void CoverEditorView::updatePickerTexts() {
    const QSignalBlocker block(picker_);
    // The room the picker's text has: its grid cell less the picker's own frame and arrow.
    int room = -1;
    const QRect cell = grid_->cellRect(0, 1);
    if (cell.isValid()) {
        QStyleOptionComboBox option;
        option.initFrom(picker_);
        const QSize frame =
            style()->sizeFromContents(QStyle::CT_ComboBox, &option, QSize(0, 0), picker_);
        room = cell.width() - frame.width() - 2;
    }
    const QFontMetrics metrics = picker_->fontMetrics();
    for (int id = CoverEditor::kFirstID; id <= CoverEditor::kLastID; ++id) {
        const CoverEditor::PickerLabelParts parts = editor_.coverPickerLabelParts(id);
        const QString head = QString::fromStdString(parts.head);
        const QString name = QString::fromStdString(parts.name);
        const QString tail = QString::fromStdString(parts.tail);
        QString text = head + name + tail;
        if (room > 0 && metrics.horizontalAdvance(text) > room && !name.isEmpty()) {
            const int nameRoom = room - metrics.horizontalAdvance(head + tail);
            text = head + metrics.elidedText(name, Qt::ElideRight, std::max(nameRoom, 0)) + tail;
        }
        const int index = id - CoverEditor::kFirstID;
        if (picker_->itemText(index) != text) picker_->setItemText(index, text);
        picker_->setItemData(index, QString::fromStdString(editor_.coverPickerLabel(id)),
                             Qt::ToolTipRole);
    }
    picker_->setCurrentIndex(editor_.selectionID() - CoverEditor::kFirstID);
}

void CoverEditorView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The cell's width is known only once laid out.
    grid_->activate();
    updatePickerTexts();
}

}  // namespace mantleshade
