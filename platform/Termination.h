#pragma once

// The program was asked to end (SIGTERM, SIGINT). A question that is open then is closed
// without an answer: what it would decide is left for the next start.
namespace Termination {
void request();
bool requested();
} // namespace Termination
