#pragma once

// The process's limit on open files, raised from the desktop session's soft default (often 1024) to the hard
// limit, so the WebSocket server's connection bound fits (the event loop polls, so high descriptors are fine).
namespace korvel::app {

// The soft limit afterwards; -1 when it could not be read.
long raise_descriptor_limit();

} // namespace korvel::app
