#include "MonitorApp/app/QtFilePanel.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

namespace quenbril {

std::optional<std::string> QtFilePanel::runModal(const Request& request) {
    QStringList patterns;
    for (const std::string& type : request.allowedTypes) {
        patterns << "*." + QString::fromStdString(type);
    }
    const QString filter =
        patterns.isEmpty() ? QString() : "Quenbril files (" + patterns.join(' ') + ")";
    QString path;
    if (request.kind == Request::Kind::Save) {
        const QString proposed =
            QDir::home().filePath(QString::fromStdString(request.suggestedName));
        path = QFileDialog::getSaveFileName(parent_, "Save", proposed, filter);
        // A name typed without its extension gets the first allowed one.
        if (!path.isEmpty() && !request.allowedTypes.empty()) {
            const QString suffix = QFileInfo(path).suffix();
            bool allowed = false;
            for (const std::string& type : request.allowedTypes) {
                allowed = allowed || suffix == QString::fromStdString(type);
            }
            if (!allowed) path += "." + QString::fromStdString(request.allowedTypes.front());
        }
    } else {
        path = QFileDialog::getOpenFileName(parent_, "Open", QDir::homePath(), filter);
    }
    if (path.isEmpty()) return std::nullopt;
    return path.toStdString();
}

}  // namespace quenbril
