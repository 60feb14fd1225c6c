#pragma once

class QSurfaceFormat;

namespace quenbril {

/// The context the level displays draw with: OpenGL 3.3 core with an alpha channel, so that
/// the panel display can be transparent over the strips.
QSurfaceFormat levelSurfaceFormat();

/// Whether the level displays can draw here: false on the offscreen and minimal platforms and
/// wherever no such context can be made (a GL widget there would crash). Probed once, with an
/// offscreen surface, before any GL widget exists; a false answer is logged once.
bool levelDisplaysCanDraw();

}  // namespace quenbril
