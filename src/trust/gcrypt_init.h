// The one place libgcrypt is set up; every user in the process calls it
// before its first libgcrypt call.
#pragma once

// Sets libgcrypt up on the first call (unless something else in the process
// already finished its setup) and tells whether it can be used: false when
// the library at run time is older than the headers we were built with.
// Safe to call from several threads.
bool InitGcrypt();
