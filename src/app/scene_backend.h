// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace lunor {

// The windows' scenes are drawn in software where OpenGL itself is only a
// software rasteriser (no GPU, a virtual machine, a remote X session): Qt
// Quick's own software renderer draws our screens and the host's picture at
// a fraction of the CPU a rasterised OpenGL spends on them. Left to Qt when
// QT_QUICK_BACKEND or QSG_RHI_BACKEND says what to use. Before the first
// window; returns the OpenGL renderer's name when it chose software.
QString drawScenesInSoftwareOnSoftwareOpenGl();

// A renderer string of OpenGL's that names a software rasteriser.
bool isSoftwareOpenGl(const QString& renderer);

}  // namespace lunor
