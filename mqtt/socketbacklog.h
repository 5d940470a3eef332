#pragma once

#include <QtGlobal>

namespace korvel::mqtt {

// Bytes written to a TCP socket that its peer has not yet acknowledged: what a message written now waits
// behind. 0 when the descriptor cannot tell (not a TCP socket, closed).
qsizetype unsent_bytes(int fd);

} // namespace korvel::mqtt
