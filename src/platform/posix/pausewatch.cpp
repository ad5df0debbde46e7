/*
 * The one registered PauseWatch (pausewatch.h).  Kept apart from the
 * console, so that a backend links without it.
 */
#include "pausewatch.h"

namespace {

vt::PauseWatch *gWatch = nullptr;

} // namespace

void vt::setPauseWatch(PauseWatch *watch) { gWatch = watch; }

vt::PauseWatch *vt::pauseWatch(void) { return gWatch; }
