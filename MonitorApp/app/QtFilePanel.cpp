#include "MonitorApp/app/QtFilePanel.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QStringList>

#include "MonitorApp/controls/ModalOwner.h"

namespace quenbril {

QString QtFilePanel::filter(const std::vector<std::string>& types) {
    QStringList names;
    QStringList patterns;
    for (const std::string& type : types) {
        names << QString::fromStdString(type).toUpper();
        patterns << "*." + QString::fromStdString(type);
    }
    if (patterns.isEmpty()) return {};
    return names.join(", ") + " files (" + patterns.join(' ') + ")";
}

std::optional<std::string> QtFilePanel::runModal(QWidget* window, const Request& request) {
    const QString filter = QtFilePanel::filter(request.allowedTypes);
    auto used = folders_.find(request.allowedTypes);
    const QString folder =
        used != folders_.end() && QDir(used->second).exists() ? used->second : QDir::homePath();
    const bool save = request.kind == Request::Kind::Save;
    const ModalOwner owner(window);
    // On the heap: should the asking window go while the panel is open, it takes the panel
    // along.
    QPointer<QFileDialog> dialog = new QFileDialog(
        owner.window(), save ? "Save" : "Open",
        save ? QDir(folder).filePath(QString::fromStdString(request.suggestedName)) : folder,
        filter);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    owner.adopt(*dialog);
    const bool chosen = dialog->exec() == QDialog::Accepted && dialog;
    QString path;
    if (chosen && !dialog->selectedFiles().isEmpty()) path = dialog->selectedFiles().front();
    delete dialog.data();
    owner.restoreFocus();
    if (path.isEmpty()) return std::nullopt;
    folders_[request.allowedTypes] = QFileInfo(path).absolutePath();
    // A name typed without its extension gets the first allowed one.
    if (save && !request.allowedTypes.empty()) {
        const QString suffix = QFileInfo(path).suffix();
        bool allowed = false;
        for (const std::string& type : request.allowedTypes) {
            allowed = allowed || suffix == QString::fromStdString(type);
        }
        if (!allowed) path += "." + QString::fromStdString(request.allowedTypes.front());
    }
    return path.toStdString();
}

}  // namespace quenbril
