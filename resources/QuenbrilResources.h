#pragma once

namespace quenbril {

/// Registers the application's pictures (":/images/<name>"). A static library's resources are
/// registered only when something calls this: the linker drops them otherwise.
void initQuenbrilResources();

}  // namespace quenbril
