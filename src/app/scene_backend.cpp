// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/scene_backend.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QSGRendererInterface>

namespace lunor {

bool isSoftwareOpenGl(const QString& renderer) {
  // Mesa's llvmpipe and softpipe, its older swrast ("Software Rasterizer"),
  // Google's SwiftShader.
  for (const char* name : {"llvmpipe", "softpipe", "software rasterizer", "swiftshader"}) {
    if (renderer.contains(QLatin1String(name), Qt::CaseInsensitive)) return true;
  }
  return false;
}

QString drawScenesInSoftwareOnSoftwareOpenGl() {
  if (qEnvironmentVariableIsSet("QT_QUICK_BACKEND") || qEnvironmentVariableIsSet("QSG_RHI_BACKEND")) return {};
  QOpenGLContext context;
  QOffscreenSurface surface;
  surface.create();
  QString renderer;
  if (context.create() && context.makeCurrent(&surface)) {
    renderer = QString::fromLatin1(reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER)));
    context.doneCurrent();
  }
  if (!isSoftwareOpenGl(renderer)) return {};
  QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
  return renderer;
}

}  // namespace lunor
