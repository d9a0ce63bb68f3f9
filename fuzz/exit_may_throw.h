// Pre-included in the fuzz build only: libc declares exit() as not throwing,
// and the unwinder would stop (std::terminate) at every call of it, while
// fuzz_keys ends a run by throwing from exit() so that the editor's scope
// guards (open dialogs, ignored interrupts) undo themselves.
#pragma once
#include <sys/cdefs.h>
#undef __THROW
#define __THROW
