#include "MonitorApp/glsupport/LevelGLSupport.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <string>

#include "foundation/Log.h"

namespace quenbril {

namespace {

bool probe(std::string& reason) {
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
        reason = "the " + platform.toStdString() + " platform has no OpenGL";
        return false;
    }
    QOffscreenSurface surface;
    surface.setFormat(levelSurfaceFormat());
    surface.create();
    QOpenGLContext context;
    context.setFormat(levelSurfaceFormat());
    if (!surface.isValid() || !context.create() || !context.makeCurrent(&surface)) {
        reason = "no OpenGL 3.3 core context can be made";
        return false;
    }
    const QSurfaceFormat made = context.format();
    context.doneCurrent();
    if (made.version() < qMakePair(3, 3)) {
        reason = "the OpenGL context is older than 3.3";
        return false;
    }
    return true;
}

}  // namespace

QSurfaceFormat levelSurfaceFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setAlphaBufferSize(8);
    return format;
}

bool levelDisplaysCanDraw() {
    static const bool canDraw = [] {
        std::string reason;
        const bool ok = probe(reason);
        if (!ok) QLOG("Level displays left blank: %s", reason.c_str());
        return ok;
    }();
    return canDraw;
}

}  // namespace quenbril
