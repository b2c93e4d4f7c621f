#include "app/PreferencesView.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/AccessibilityPoll.h"
#include "app/BehaviourTab.h"
#include "app/ConnectedMonitors.h"
#include "app/CoverEditor.h"
#include "app/CoverEditorView.h"
#include "app/PreferencesServices.h"
#include "app/PreferencesSettings.h"
#include "app/PreferencesSystemServices.h"
#include "app/PreferencesTexts.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/updater/SPUStandardUpdaterController.h"

namespace mantleshade {

namespace {

void setSecondary(QWidget* widget) {
    QPalette pal = widget->palette();
    QColor color = pal.color(QPalette::WindowText);
    color.setAlphaF(0.6);
    pal.setColor(QPalette::WindowText, color);
    widget->setPalette(pal);
}

QFont scaled(QFont font, double factor) {
    font.setPointSizeF((font.pointSizeF() > 0 ? font.pointSizeF() : 10) * factor);
    return font;
}

}  // namespace

PreferencesView::PreferencesView(PreferencesServices& services, foundation::UserDefaults& defaults,
                                 updater::SPUUpdater* updater, QWidget* parent)
    : QWidget(parent),
      services_(services),
      defaults_(defaults),
      settings_(std::make_unique<PreferencesSettings>(defaults)) {
    setObjectName("PreferencesView");
    poll_ = new AccessibilityPoll([this] { return services_.isAccessibilityTrusted(); }, this);
    editor_ = std::make_unique<CoverEditor>(*settings_, services_);
    monitors_ = new ConnectedMonitors(*settings_, services_, this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    layout->setSpacing(kSpacing);
    setFixedWidth(kWidth);

    // Header
    auto* headerRow = new QHBoxLayout();
    auto* title = new QLabel(PreferencesTexts::text("Preferences"), this);
    QFont titleFont = scaled(title->font(), 1.6);
    titleFont.setBold(true);
    title->setFont(titleFont);
    versionLabel_ = new QLabel(
        PreferencesTexts::text(
            "Version ", QString::fromStdString(PreferencesSettings::applicationVersionString())),
        this);
    versionLabel_->setObjectName("versionLabel");
    versionLabel_->setFont(scaled(versionLabel_->font(), 0.75));
    setSecondary(versionLabel_);
    headerRow->addWidget(title, 0, Qt::AlignVCenter);
    headerRow->addStretch();
    headerRow->addWidget(versionLabel_, 0, Qt::AlignVCenter);
    layout->addLayout(headerRow);
    auto* about = new QLabel(PreferencesTexts::text(kAboutText), this);
    about->setObjectName("aboutText");
    about->setWordWrap(true);
    about->setFont(scaled(about->font(), 0.85));
    setSecondary(about);
    layout->addWidget(about);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);

    tabs_ = new QTabWidget(this);
    behaviourTab_ = new BehaviourTab(*settings_, services_, *poll_, updater, tabs_);
    mediaTab_ = new CoverEditorView(*editor_, *monitors_, tabs_);
    tabs_->addTab(behaviourTab_, PreferencesTexts::text("Behaviour"));
    tabs_->addTab(mediaTab_, PreferencesTexts::text("Media"));
    layout->addWidget(tabs_);
    layout->addStretch();

    auto* footer = new QHBoxLayout();
    footer->addStretch();
    auto* notice = new QLabel(this);
    notice->setObjectName("footerNotice");
    notice->setTextFormat(Qt::RichText);
    notice->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                        .arg(QString::fromLatin1(kHomePage),
                             PreferencesTexts::text(kNoticeText).toHtmlEscaped()));
    notice->setOpenExternalLinks(true);
    notice->setFont(scaled(notice->font(), 0.85));
    footer->addWidget(notice, 0, Qt::AlignRight);
    layout->addLayout(footer);

    // Any writer, this window included, may be on another thread: redraw from the event loop.
    QPointer<PreferencesView> self(this);
    observer_ = defaults_.addObserver([self](const std::string& key) {
        if (!PreferencesSettings::isSettingsKey(key)) return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (self) self->scheduleRefresh();
            },
            Qt::QueuedConnection);
    });

    // Edits made by another process show up too: a read after the file changed reloads the store,
    // which tells the observer above what changed.
    watcher_ = new QFileSystemWatcher(this);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this,
            [this] { (void)defaults_.contains(PreferencesSettings::kPortKey); });
    watchDefaultsFolder();
}

void PreferencesView::watchDefaultsFolder() {
    const QString folder = QString::fromStdString(defaults_.path().parent_path().string());
    if (!watcher_->directories().contains(folder) && QFileInfo(folder).isDir())
        watcher_->addPath(folder);
}

PreferencesView::~PreferencesView() {
    defaults_.removeObserver(observer_);
    poll_->stopAccessibilityTimer();
    // The tabs refer to the settings and the editor: they go first.
    delete tabs_;
    tabs_ = nullptr;
    monitors_->removeHighlightWindows();
}

void PreferencesView::scheduleRefresh() {
    if (refreshPending_) return;
    refreshPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            refreshPending_ = false;
            refresh();
        },
        Qt::QueuedConnection);
}

void PreferencesView::refresh() {
    watchDefaultsFolder();  // the folder may have been made by the first write
    behaviourTab_->refresh();
    mediaTab_->refresh();
}

void PreferencesView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    poll_->startAccessibilityTimer();
}

void PreferencesView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    poll_->stopAccessibilityTimer();
}

}  // namespace mantleshade

namespace mantleshade {

QWidget* makePreferencesView(std::shared_ptr<OSCManager> oscManager,
                             updater::SPUStandardUpdaterController& updaterController,
                             QWidget* parent, foundation::UserDefaults* defaults) {
    auto services = std::make_unique<PreferencesSystemServices>(std::move(oscManager));
    auto* view =
        new PreferencesView(*services, defaults ? *defaults : foundation::UserDefaults::standard(),
                            &updaterController.updater(), parent);
    services.release()->setParent(view);
    return view;
}

}  // namespace mantleshade
