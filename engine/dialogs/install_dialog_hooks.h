#pragma once

namespace orv {

// Plugs the "Building indexes..." window and the "Table authentication" dialog into the
// engine core's callback slots (engine/components/orvel_callbacks.h). The application calls it
// once at start-up.
void InstallOrvDialogHooks();

}  // namespace orv
