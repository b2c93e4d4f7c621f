#include "platform/desktop/OpenPanel.h"

#include <QApplication>
#include <QFileDialog>
#include <QPointer>

#include "platform/desktop/ActivationPolicy.h"

namespace desktop {

namespace {

QString typeName(ContentType type) {
    switch (type) {
        case ContentType::pngImage:
            return QStringLiteral("PNG image");
        case ContentType::jpegImage:
            return QStringLiteral("JPEG image");
        case ContentType::movie:
            return QStringLiteral("Movie");
        case ContentType::mpeg4Movie:
            return QStringLiteral("MPEG-4 movie");
    }
    return {};
}

QStringList extensions(ContentType type) {
    switch (type) {
        case ContentType::pngImage:
            return {"png"};
        case ContentType::jpegImage:
            return {"jpg", "jpeg"};
        case ContentType::movie:
            return {"mov", "mp4", "m4v", "avi"};
        case ContentType::mpeg4Movie:
            return {"mp4", "m4v"};
    }
    return {};
}

}  // namespace

QStringList OpenPanel::patterns(ContentType type) {
    QStringList lower, upper;
    for (const QString& ext : extensions(type)) {
        lower << "*." + ext;
        upper << "*." + ext.toUpper();
    }
    return lower + upper;
}

QStringList OpenPanel::nameFilters(const std::vector<ContentType>& types) {
    QStringList filters;
    QStringList all;
    for (ContentType type : types) {
        const QStringList p = patterns(type);
        filters << typeName(type) + " (" + p.join(' ') + ")";
        for (const QString& pattern : p)
            if (!all.contains(pattern)) all << pattern;
    }
    if (types.size() > 1) filters.prepend("Images and movies (" + all.join(' ') + ")");
    return filters;
}

std::optional<std::string> OpenPanel::runModal(QWidget* parent) const {
    QFileDialog dialog(parent, QString::fromStdString(message));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (canChooseDirectories && !canChooseFiles) {
        dialog.setFileMode(QFileDialog::Directory);
    } else {
        dialog.setFileMode(allowsMultipleSelection ? QFileDialog::ExistingFiles
                                                   : QFileDialog::ExistingFile);
    }
    if (!allowedContentTypes.empty()) dialog.setNameFilters(nameFilters(allowedContentTypes));
    // Modal to the window that opened it only: an application-modal dialog would block the cover
    // windows, which must take every click and key while they are up.
    dialog.setWindowModality(Qt::WindowModal);
    // Some window managers give the keyboard to no window when a dialog closes: hand it back to
    // the window that opened the dialog, so typing goes on where it was.
    QPointer<QWidget> owner = parent ? parent->window() : nullptr;
    QPointer<QWidget> focus = QApplication::focusWidget();
    const int result = dialog.exec();
    dialog.hide();
    if (owner && owner->isVisible()) {
        activateIgnoringOtherApps(owner);
        if (focus && focus->window() == owner) focus->setFocus(Qt::OtherFocusReason);
    }
    if (result != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return files.first().toStdString();
}

}  // namespace desktop
