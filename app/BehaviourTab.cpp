#include "app/BehaviourTab.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QVBoxLayout>

#include "app/AccessibilityPoll.h"
#include "app/ListeningStatus.h"
#include "app/PreferencesServices.h"
#include "app/PreferencesSettings.h"
#include "app/PreferencesTexts.h"
#include "app/UpdaterSettingsView.h"

namespace mantleshade {

namespace {

QLabel* headline(const std::string& key, QWidget* parent) {
    auto* label = new QLabel(PreferencesTexts::text(key), parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QFont caption(QFont font) {
    font.setPointSizeF(font.pointSizeF() > 0 ? font.pointSizeF() * 0.85 : 9);
    return font;
}

void setSecondary(QWidget* widget) {
    QPalette pal = widget->palette();
    QColor color = pal.color(QPalette::WindowText);
    color.setAlphaF(0.6);
    pal.setColor(QPalette::WindowText, color);
    widget->setPalette(pal);
}

QLabel* wrapping(const QString& text, QWidget* parent, Qt::TextFormat format = Qt::PlainText) {
    auto* label = new QLabel(parent);
    label->setTextFormat(format);
    label->setText(text);
    label->setWordWrap(true);
    return label;
}

QColor colorOf(ListeningStatus::Color color) {
    switch (color) {
        case ListeningStatus::Color::red:
            return QColor(Qt::red);
        case ListeningStatus::Color::green:
            return QColor(0, 200, 83);
        case ListeningStatus::Color::orange:
            return QColor(255, 149, 0);
    }
    return {};
}

}  // namespace

BehaviourTab::BehaviourTab(PreferencesSettings& settings, PreferencesServices& services,
                           AccessibilityPoll& poll, updater::SPUUpdater* updater, QWidget* parent)
    : QWidget(parent), settings_(settings), services_(services), poll_(poll) {
    setObjectName("BehaviourTab");
    auto* outer = new QVBoxLayout(this);
    auto* stack = new QVBoxLayout();
    stack->setSpacing(kSpacing);
    stack->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    outer->addLayout(stack);
    outer->addStretch();

    // Appearance
    stack->addWidget(headline("Appearance", this));
    dockToggle_ = new QCheckBox(PreferencesTexts::text("Show icon in Dock"), this);
    dockToggle_->setObjectName("dockToggle");
    dockToggle_->setChecked(settings_.showInDock());
    stack->addWidget(dockToggle_);
    // Only a change made here applies the policy; opening the window changes nothing.
    connect(dockToggle_, &QCheckBox::toggled, this, [this](bool value) {
        settings_.setShowInDock(value);
        services_.setShowsDockIcon(value);
    });

    auto* lockOutRow = new QHBoxLayout();
    lockOutToggle_ = new QCheckBox(
        PreferencesTexts::text("Lock Out - Disable all interactions with the Mac"), this);
    lockOutToggle_->setObjectName("lockOutToggle");
    lockOutToggle_->setChecked(settings_.lockOut());
    connect(lockOutToggle_, &QCheckBox::toggled, this,
            [this](bool value) { settings_.setLockOut(value); });
    permissionHint_ = new QLabel(PreferencesTexts::text("Accessibility required"), this);
    permissionHint_->setObjectName("permissionHint");
    permissionHint_->setFont(caption(font()));
    setSecondary(permissionHint_);
    permissionButton_ =
        new QPushButton(PreferencesTexts::text("Request Accessibility Permissions…"), this);
    permissionButton_->setObjectName("permissionButton");
    permissionButton_->setFont(caption(font()));
    connect(permissionButton_, &QPushButton::clicked, this,
            [this] { services_.requestAccessibilityPermission(); });
    lockOutRow->addWidget(lockOutToggle_);
    lockOutRow->addStretch();
    stack->addLayout(lockOutRow);
    // The toggle's Linux label leaves no room beside it at the window's width: the hint and the
    // button go on a line of their own under it, in line with its text, so nothing is cut off.
    auto* permissionRow = new QHBoxLayout();
    QStyleOptionButton indicator;
    indicator.initFrom(lockOutToggle_);
    permissionRow->addSpacing(
        style()->subElementRect(QStyle::SE_CheckBoxContents, &indicator, lockOutToggle_).left());
    permissionRow->addWidget(permissionHint_);
    permissionRow->addWidget(permissionButton_);
    permissionRow->addStretch();
    stack->addLayout(permissionRow);

    auto* description = wrapping(
        PreferencesTexts::inlineMarkdownToHtml(PreferencesTexts::text(
            "Lock Out disables all keyboard and mouse input while the overlay is displayed. "
            "Control of the Mac can only be restored by sending an OSC message or using the "
            "keyboard shortcut **Command ⌘ + Shift ⇧ + H**.")),
        this, Qt::RichText);
    description->setObjectName("lockOutDescription");
    stack->addWidget(description);
    auto* note = wrapping(
        PreferencesTexts::text("Lock Out requires Accessibility permission from macOS. You will "
                               "be prompted to grant this permission the first time the feature "
                               "is used."),
        this);
    note->setObjectName("permissionNote");
    setSecondary(note);
    stack->addWidget(note);
    stack->addWidget(divider(this));

    // Updates
    stack->addWidget(headline("Updates", this));
    if (updater) {
        updaterSettings_ = new UpdaterSettingsView(*updater, this);
        stack->addWidget(updaterSettings_);
    }
    stack->addWidget(divider(this));

    // OSC, with the standard inset above it.
    auto* oscHeadline = headline("OSC", this);
    oscHeadline->setContentsMargins(0, style()->pixelMetric(QStyle::PM_LayoutTopMargin), 0, 0);
    stack->addWidget(oscHeadline);

    auto* portRow = new QHBoxLayout();
    portRow->addWidget(new QLabel(PreferencesTexts::text("OSC Port:"), this));
    portField_ = new QLineEdit(this);
    portField_->setObjectName("portField");
    portField_->setPlaceholderText(PreferencesTexts::text("OSC Port"));
    // No validator: one would drop or keep keys silently. Text that is no port shows as refused.
    portField_->setMaximumWidth(100);
    connect(portField_, &QLineEdit::editingFinished, this, &BehaviourTab::commitPort);
    connect(portField_, &QLineEdit::textChanged, this, &BehaviourTab::showPortValidity);
    applyButton_ = new QPushButton(PreferencesTexts::text("Apply"), this);
    applyButton_->setObjectName("applyButton");
    connect(applyButton_, &QPushButton::clicked, this, [this] {
        // A typed but uncommitted port is what the user means to apply; text the user did not
        // touch may lag behind the store and must not overwrite it.
        if (portField_->isModified()) commitPort();
        // A refused port is not applied: the hint says why.
        if (portRefused()) return;
        services_.startListening();
        refresh();
    });
    portRow->addWidget(portField_);
    portRow->addWidget(applyButton_);
    portRow->addStretch();
    stack->addLayout(portRow);
    portHint_ = new QLabel(ListeningStatus::refusedPortHint(), this);
    portHint_->setObjectName("portHint");
    portHint_->setFont(caption(font()));
    QPalette hintPalette = portHint_->palette();
    hintPalette.setColor(QPalette::WindowText, Qt::red);
    portHint_->setPalette(hintPalette);
    // Its line is kept while hidden, so the window never grows or clips when it shows.
    QSizePolicy hintPolicy = portHint_->sizePolicy();
    hintPolicy.setRetainSizeWhenHidden(true);
    portHint_->setSizePolicy(hintPolicy);
    portHint_->hide();
    stack->addWidget(portHint_);

    auto* statusRow = new QHBoxLayout();
    statusLabel_ = new QLabel(this);
    statusLabel_->setObjectName("statusLabel");
    statusDot_ = new QLabel(this);
    statusDot_->setObjectName("statusDot");
    statusDot_->setFixedSize(10, 10);
    statusRow->addWidget(statusLabel_);
    statusRow->addWidget(statusDot_);
    statusRow->addStretch();
    stack->addLayout(statusRow);

    auto* help = new QVBoxLayout();
    for (const char* line : {"/mantleshade/show {ID} where ID is the first argument as an Int.",
                             "/mantleshade/clear", "/mantleshade/blackout"}) {
        auto* label = new QLabel(PreferencesTexts::text(line), this);
        label->setTextFormat(Qt::PlainText);
        help->addWidget(label);
    }
    stack->addLayout(help);

    connect(&poll_, &AccessibilityPoll::hasAccessibilityPermissionChanged, this,
            &BehaviourTab::refreshPermission);
    connect(&services_, &PreferencesServices::oscStateChanged, this, &BehaviourTab::refresh);
    refresh();
}

void BehaviourTab::commitPort() {
    std::optional<std::int64_t> port = ListeningStatus::parsePort(portField_->text());
    if (!port) {
        // Not a port: nothing is stored, and the text stays, shown as refused, to be corrected.
        showPortValidity();
        return;
    }
    if (*port != settings_.port()) settings_.setPort(*port);
    portField_->setModified(false);
    refresh();
}

bool BehaviourTab::portRefused() const {
    return !ListeningStatus::parsePort(portField_->text()).has_value();
}

void BehaviourTab::showPortValidity() {
    const bool refused = portRefused();
    QPalette pal = portField_->palette();
    pal.setColor(QPalette::Text, refused ? QColor(Qt::red) : palette().color(QPalette::Text));
    portField_->setPalette(pal);
    portHint_->setVisible(refused);
}

void BehaviourTab::refreshPermission() {
    const bool permitted = poll_.hasAccessibilityPermission();
    lockOutToggle_->setEnabled(permitted);
    permissionHint_->setVisible(!permitted);
    permissionButton_->setVisible(!permitted);
}

void BehaviourTab::refresh() {
    const QSignalBlocker blockDock(dockToggle_);
    const QSignalBlocker blockLockOut(lockOutToggle_);
    dockToggle_->setChecked(settings_.showInDock());
    lockOutToggle_->setChecked(settings_.lockOut());
    refreshPermission();

    const std::int64_t port = settings_.port();
    const QString portText = ListeningStatus::formatPort(port);
    // Text being typed is left alone until it is committed.
    if (!portField_->isModified() || !portField_->hasFocus()) {
        portField_->setText(portText);
        portField_->setModified(false);
    }

    const bool listening = services_.serverIsListening();
    const std::optional<std::int64_t> current = services_.currentListeningPort();
    applyButton_->setEnabled(ListeningStatus::applyEnabled(current, port));
    statusLabel_->setText(ListeningStatus::statusText(port));
    dotColor_ = colorOf(ListeningStatus::listeningStatusColor(listening, current, port));
    statusDot_->setStyleSheet(
        QStringLiteral("background-color: %1; border-radius: 5px;").arg(dotColor_.name()));
}

QColor BehaviourTab::statusDotColor() const {
    return dotColor_;
}

}  // namespace mantleshade
