#pragma once

// The system's warning beep; counted, so tests can tell that it sounded.
namespace Beep {
void ring();
int count();
} // namespace Beep
