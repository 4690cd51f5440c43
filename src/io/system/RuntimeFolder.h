#pragma once

namespace quenta {

// Without XDG_RUNTIME_DIR (root on a console, a login over ssh) Qt warns at every start and then
// takes runtime-USER in the temporary folder. This takes that folder first, made private to this
// user, and sets XDG_RUNTIME_DIR to it; a folder that is not this user's own is left alone, for Qt
// to report.
void provideRuntimeFolder();

} // namespace quenta
