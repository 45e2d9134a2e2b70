#pragma once

namespace velt
{

// Registers the embedded resources (default skin, logo, icon) of the static GUI library, which a
// linker would otherwise drop. Safe to call any number of times, from the UI thread.
void InitGuiResources();

} // namespace velt
